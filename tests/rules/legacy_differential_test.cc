// The compiled rules against the filter as it was, over the built-in rules and
// random rule documents, on random traffic piece after piece.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/default_config.h"
#include "rules/legacy/request_matching.h"
#include "rules/request_matching.h"
#include "rules/rule_document.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

using rules_test::CTrafficBuffer;

class CRandom {
 public:
  explicit CRandom(unsigned seed) : m_engine(seed) {}
  int Below(int n) { return static_cast<int>(m_engine() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& values) {
    return values[static_cast<std::size_t>(Below(static_cast<int>(values.size())))];
  }
  std::string Text(int maxLength) {
    static const std::string kBytes = "aAxX<>/=\"' -:.*dDiIvV\r\n\t\xff";
    std::string text;
    for (int i = Below(maxLength + 1); i > 0; --i) text += kBytes[Below(kBytes.size())];
    return text;
  }
  // The name in a random mix of letter cases.
  std::string Cased(const std::string& name) {
    if (Chance(80)) return name;
    std::string cased = name;
    for (char& c : cased)
      if (Chance(50) && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return cased;
  }

 private:
  std::mt19937 m_engine;
};

struct AttributeChoice {
  std::string name;
  std::vector<std::string> values;
};

const std::vector<AttributeChoice> kConditionAttributes = {
    {"header", {"content-type", "Host", "id", "referer", "x-kind", ""}},
    {"prefix", {"get", "/x", "x", "<", "HTTP://www.", "http://", ""}},
    {"suffix", {".js", "X", "html;", ".JS", "/", ""}},
    {"contains", {"x", "div", "/", "google.", "Example", "&", "text/html", ""}},
    {"fromrequest", {"google.", "x", "Example.com", ""}},
};
const std::vector<AttributeChoice> kContentAttributes = {
    {"action",
     {"comment", "COMMENT", "remove", "replace:b", "replace:", "Replace:Strong", "replace:ab  ",
      "xreplace:q", "comment:replace", "replace:/x", "replace:yx", ""}},
    {"contains", {"x", "div", "window.open", "referer", "<", "/", "ab", "xy", "q", ""}},
    {"tag", {"div", "<div", "a", "font", "p", "<", "DIV", "b", ""}},
    {"attribname", {"id", "class", "x", "ID", ""}},
    {"attribvalue", {"x", "*", "x*", "*x", "ad*", "AD", "*-ad", ""}},
    {"alternatetag", {"a", "font", "div", "A", ""}},
    {"return", {"0", "1", "no", ""}},
};
const std::vector<std::string> kKinds = {"allow", "request", "response", "content", "other"};

void AddAttributes(CRandom& random, const std::vector<AttributeChoice>& choices,
                   CXmlNode& element) {
  for (const AttributeChoice& choice : choices) {
    // Now and then an attribute twice: the first counts.
    for (int times = random.Chance(8) ? 2 : 1; times > 0; --times) {
      if (!random.Chance(35)) continue;
      const std::string value = random.Chance(12) ? random.Text(4) : random.Pick(choice.values);
      element.AddAttribute(CPooledString(random.Cased(choice.name)), CPooledString(value));
    }
  }
}

void AddConditions(CRandom& random, CXmlNode& parent, int depth) {
  const int count = 1 + random.Below(3);
  for (int i = 0; i < count; ++i) {
    const std::string& kind = random.Pick(kKinds);
    CXmlNode* condition = parent.AddChild(CPooledString(random.Cased(kind)));
    AddAttributes(random, kind == "content" ? kContentAttributes : kConditionAttributes,
                  *condition);
    if (depth < 3 && random.Chance(25)) AddConditions(random, *condition, depth + 1);
    if (random.Chance(3)) condition->AddChild("enabled")->SetText("no");
  }
}

// A chain of request (or content) elements around the nesting limit.
void AddDeepChain(CRandom& random, CXmlNode& rule) {
  CXmlNode* node = &rule;
  const int depth = kMaxNestingLevel - 2 + random.Below(5);
  const bool content = random.Chance(50);
  for (int i = 0; i < depth; ++i) {
    node = node->AddChild(content ? "content" : "request");
    node->AddAttribute(content ? "contains" : "contains", CPooledString(content ? "x" : "/"));
    if (content) node->AddAttribute("action", "replace:y");
  }
  node->AddChild("enabled")->SetText("yes");
}

std::unique_ptr<CXmlNode> RandomConfig(CRandom& random) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  CXmlNode* root = document->AddChild("lumbra");
  root->AddChild("enabled")->SetText(random.Chance(95) ? "yes" : "no");
  CXmlNode* rules = root->AddChild("filterrules");
  const int count = 1 + random.Below(3);
  for (int r = 0; r < count; ++r) {
    CXmlNode* rule = rules->AddChild(random.Chance(90) ? "filterrule" : "other");
    const int enabled = random.Below(10);
    if (enabled < 7) rule->AddChild("enabled")->SetText("yes");
    if (enabled == 7) rule->AddChild("enabled")->SetText("YES");
    if (enabled == 8) rule->AddChild("enabled")->SetText("no");
    AddConditions(random, *rule, 0);
    if (random.Chance(3)) AddDeepChain(random, *rule);
  }
  if (random.Chance(10)) rules->AddChild("filterrule")->AddChild("enabled")->SetText("yes");
  return document;
}

const std::vector<std::string> kFragments = {"<div ",
                                             "<div>",
                                             "</div>",
                                             "<DIV id=",
                                             "id=",
                                             "class=",
                                             "x",
                                             "xy",
                                             "ad1",
                                             "\"",
                                             "'",
                                             ">",
                                             "<a id=x>",
                                             "<A href=y id=ad>",
                                             "<font ",
                                             "</font>",
                                             "<p>",
                                             "</p>",
                                             "<b>",
                                             "</b>",
                                             "=",
                                             " ",
                                             "\r\n",
                                             "GET /x.js HTTP/1.1\r\n",
                                             "GET http://www.google.com/search?q=x HTTP/1.1\r\n",
                                             "HTTP/1.1 200 OK\r\n",
                                             "Host: www.Example.com\r\n",
                                             "Referer: http://friend.org/\r\n",
                                             "window.open",
                                             "referer",
                                             "Content-Type: text/html; charset=x\r\n",
                                             "X-Kind: ad\r\n",
                                             "\xff",
                                             "<",
                                             "ab",
                                             "q",
                                             "GET http://ad.doubleclick.net/x HTTP/1.1\r\n",
                                             "GET http://www.bing.com/?q HTTP/1.1\r\n",
                                             "GET /mail.google.com/mail/?a&view=ad&b HTTP/1.1\r\n",
                                             "Accept-Encoding: gzip,deflate\r\n",
                                             "Accept-Encoding: gzip, deflate\r\n",
                                             "<div id=\"tads1\">",
                                             "<div id=bottomads>",
                                             "<font size=-1>",
                                             "<a id=pa1 href=x>",
                                             "<div id=b_topads>",
                                             "<div class=\"searchCenterTopAds\">",
                                             "Content-Type: application/x-javascript\r\n",
                                             "www.paypal.com/",
                                             "wikipedia.org",
                                             "onbeforeunload",
                                             "ping=",
                                             ".swf"};

std::string RandomTraffic(CRandom& random, int parts) {
  std::string traffic;
  for (int part = 0; part < parts; ++part)
    traffic += random.Chance(70) ? random.Pick(kFragments) : random.Text(6);
  if (random.Chance(3) && !traffic.empty()) traffic[random.Below(traffic.size())] = '\0';
  return traffic;
}

const std::vector<std::string> kUrls = {"http://www.google.com/search?q=x",
                                        "http://www.bing.com/search?q=x",
                                        "http://search.yahoo.com/?p=1",
                                        "http://www.Example.com/a/x.js",
                                        "",
                                        "x",
                                        "/"};

// One document run through both filters, the same pieces in the same order.
void Compare(CRandom& random, const CXmlNode& source) {
  CXmlNode legacyDocument;
  legacyDocument.CopyFrom(&source);
  const CRuleSet rules(source);
  CFilterState state;
  const bool isRequest = random.Chance(40);
  const std::string url = random.Pick(kUrls);
  const int pieces = 1 + random.Below(4);
  for (int i = 0; i < pieces; ++i) {
    const std::string bytes = RandomTraffic(random, 1 + random.Below(12));
    const bool startsMessage = !isRequest || i == 0 || random.Chance(30);
    CTrafficBuffer oldBuffer(bytes);
    CTrafficBuffer newBuffer(bytes);
    bool oldAllowed = false;
    bool newAllowed = false;
    if (isRequest && startsMessage) {
      oldAllowed =
          legacy::IsRequestAllowed(oldBuffer.Data(), oldBuffer.Length(), url, legacyDocument);
      newAllowed = IsRequestAllowed(newBuffer.Data(), newBuffer.Length(), url, rules, state);
    }
    ASSERT_EQ(newAllowed, oldAllowed) << bytes;
    ASSERT_EQ(newBuffer.Text(), oldBuffer.Text()) << bytes;
    const legacy::FilterVerdict oldVerdict =
        legacy::FilterTraffic(oldBuffer.Data(), oldBuffer.Length(), startsMessage, isRequest,
                              oldAllowed, url, legacyDocument);
    const PieceFlags flags{
        .startsMessage = startsMessage, .isRequest = isRequest, .allowed = newAllowed};
    const FilterVerdict newVerdict =
        FilterTraffic(newBuffer.Data(), newBuffer.Length(), flags, url, rules, state);
    ASSERT_EQ(newVerdict.blocked, oldVerdict.blocked) << bytes;
    ASSERT_EQ(newVerdict.modified, oldVerdict.modified) << bytes;
    ASSERT_EQ(newBuffer.Text(), oldBuffer.Text()) << bytes;
  }
}

std::string Describe(const CXmlNode& node) {
  std::string text = "<" + node.GetName().ToString();
  for (int a = 0; a < node.GetAttributeCount(); ++a)
    text += " " + node.GetAttributeName(a).ToString() + "=\"" +
            node.GetAttributeValue(a).ToString() + "\"";
  text += ">" + node.GetText().ToString();
  for (int c = 0; c < node.GetChildCount(); ++c) text += Describe(*node.GetChild(c));
  return text + "</" + node.GetName().ToString() + ">";
}

TEST(LegacyDifferential, RandomRulesAndTraffic) {
  CRandom random(12345);
  for (int round = 0; round < 20000; ++round) {
    const std::unique_ptr<CXmlNode> document = RandomConfig(random);
    SCOPED_TRACE(Describe(*document));
    Compare(random, *document);
    if (HasFatalFailure()) return;
  }
}

TEST(LegacyDifferential, BuiltInRules) {
  CXmlNode document("__root__");
  LoadXmlText(kDefaultConfigXml(), false, document);
  CRandom random(777);
  for (int round = 0; round < 20000; ++round) {
    Compare(random, document);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
