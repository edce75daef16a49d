// Reading XML files and texts: the line tokenizer CXmlParser, the tree builder
// and the reader-side text decoding.
#include "xml/xml_reader.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "core/ascii.h"
#include "core/code_page.h"
#include "core/user_messages.h"
#include "xml/xml_node.h"

namespace {

constexpr std::ptrdiff_t kNeedLine = -1;
constexpr std::string_view kParserCaption = "xml parser error";
constexpr std::string_view kBuilderCaption = "xml dom reader";
constexpr std::string_view kLineBreak = "\r\n";

// Whitespace of the tokenizer: a tab is an ordinary character.
bool IsXmlSpace(char c) { return c == ' ' || c == '\n' || c == '\r'; }

std::size_t SkipSpace(std::string_view line, std::size_t from) {
  while (from < line.size() && IsXmlSpace(line[from])) ++from;
  return from;
}

// Index of the first of `stops` at or after `from`, or the line's length.
std::size_t FindStop(std::string_view line, std::size_t from, std::string_view stops) {
  const std::size_t at = line.find_first_of(stops, from);
  return at == std::string_view::npos ? line.size() : at;
}

// A tag name ends before whitespace, before a "/" that is not its first
// character, before ">", or at the end of the line.
std::size_t TagNameEnd(std::string_view line, std::size_t from) {
  std::size_t end = from;
  for (; end < line.size(); ++end) {
    const char c = line[end];
    if (IsXmlSpace(c) || c == '>' || (c == '/' && end != from)) break;
  }
  return end;
}

// Blank text between elements is not an element's text: only a byte above the
// space makes it one. The raw text is tested, so a text written as references to
// blanks ("&#32;") stays.
bool HasVisibleByte(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) > ' ') return true;
  return false;
}

constexpr std::pair<std::string_view, char> kEntities[] = {
    {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};

// The characters XML 1.0 allows; a reference to any other stays as written.
bool IsXmlCharacter(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = AsciiToLower(c);
  return hex && lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  const int trailing = c < 0x800 ? 1 : (c < 0x10000 ? 2 : 3);
  static constexpr unsigned char kLeads[] = {0, 0xC0, 0xE0, 0xF0};
  out.push_back(static_cast<char>(kLeads[trailing] | (c >> (6 * trailing))));
  for (int shift = 6 * (trailing - 1); shift >= 0; shift -= 6)
    out.push_back(static_cast<char>(0x80 | ((c >> shift) & 0x3F)));
}

// A numeric reference ("&#233;", "&#xE9;") at the front of `text`, appended to
// `out` as UTF-8; answers its length, or 0 when there is no valid one.
std::size_t DecodeNumericReference(std::string_view text, std::string& out) {
  if (!text.starts_with("&#")) return 0;
  std::size_t i = 2;
  const bool hex = i < text.size() && text[i] == 'x';
  if (hex) ++i;
  const std::size_t firstDigit = i;
  std::uint32_t value = 0;
  // Stops once past the last character, before the value can overflow.
  for (; i < text.size() && value <= 0x10FFFF; ++i) {
    const int digit = DigitValue(text[i], hex);
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (i == firstDigit || i >= text.size() || text[i] != ';' || !IsXmlCharacter(value)) return 0;
  AppendUtf8(out, value);
  return i + 1;
}

// The reference at the front of `text`, which starts with "&", appended to `out`;
// answers how many bytes it took. Anything else passes its "&" through.
std::size_t DecodeReference(std::string_view text, std::string& out) {
  for (const auto& [entity, replacement] : kEntities) {
    if (!text.starts_with(entity)) continue;
    out.push_back(replacement);
    return entity.size();
  }
  if (const std::size_t length = DecodeNumericReference(text, out)) return length;
  out.push_back('&');
  return 1;
}

// One pass over the text, so a replacement's result is never examined again.
std::string ReplaceReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    out.append(text.substr(i, amp - i));
    i = amp + DecodeReference(text.substr(amp), out);
  }
  out.append(text.substr(i));
  return out;
}

}  // namespace

std::string DecodeXmlText(std::string_view text) {
  if (text.empty()) return {};
  // References name Unicode characters, so they are decoded while the text is UTF-8.
  return Utf8ToNarrow(ReplaceReferences(text));
}

// ---- CXmlParser: input and driver ----

// The next line without its terminator: "\n" ends a line and a "\r" before it is
// dropped too, so files with CR LF and LF line ends read alike. The line ends at
// its first NUL byte, like every text of the program.
bool CXmlParser::ReadLine() {
  if (!std::getline(m_input, m_readBuffer)) return false;
  if (!m_readBuffer.empty() && m_readBuffer.back() == '\r') m_readBuffer.pop_back();
  m_line = std::string_view(m_readBuffer);
  ++m_lineNumber;
  m_position = 0;
  return true;
}

void CXmlParser::ReportError(std::string_view message) {
  std::string text = "Parse error in line " + std::to_string(m_lineNumber) + " : (";
  text.append(message).push_back(')');
  m_lastError = std::string_view(text);
  if (m_showErrors) ShowMessageBox(kParserCaption, text);
}

bool CXmlParser::NextToken() {
  if (m_position == kNeedLine && !ReadLine()) return false;
  std::string message;
  if (TokenizeLine(message)) return true;
  ReportError(message);
  return false;
}

// ---- CXmlParser: the line tokenizer ----

bool CXmlParser::TokenizeLine(std::string& message) {
  m_tokenKind = kXmlNothing;
  const std::string_view line = m_line.View();
  std::size_t i = static_cast<std::size_t>(m_position);
  if (i >= line.size()) {
    // A line break inside a started attribute value belongs to the value, also
    // right after its opening quote and on a blank line, so none is lost.
    if (m_afterEquals && !m_valueBuffer.empty()) m_valueBuffer.append(kLineBreak);
    m_position = kNeedLine;
    return true;
  }
  if (m_inTag && !m_afterEquals) {
    i = SkipSpace(line, i);
    if (i >= line.size()) {
      m_position = kNeedLine;
      return true;
    }
  }
  if (m_inComment) {
    CloseSection(line, i, "-->", kXmlComment);
    return true;
  }
  if (m_inCData) {
    CloseSection(line, i, "]]>", kXmlCData);
    return true;
  }
  if (m_afterEquals) {
    CollectAttributeValue(line, i);
    return true;
  }
  if (m_inContent) {
    CollectText(line, i);
    return true;
  }
  return ReadMarkup(line, i, message);
}

// Inside a comment or CDATA section: its end switches to text, else the section
// goes on past this line. The content is never delivered.
void CXmlParser::CloseSection(std::string_view line, std::size_t i, std::string_view terminator,
                              int kind) {
  const std::size_t end = line.find(terminator, i);
  if (end == std::string_view::npos) {
    m_tokenKind = kind;
    m_position = kNeedLine;
    return;
  }
  m_position = static_cast<std::ptrdiff_t>(end + terminator.size());
  m_inComment = m_inCData = m_afterEquals = m_inTag = false;
  m_inContent = true;
  m_text.Clear();
}

// After "=": first the opening character (whatever it is), then everything up to
// the same quote when it is one, else up to a quote, a line break or ">". A value
// running to the end of the line goes on in the next one. A quoted value holds
// the other quote and ">" as XML allows, also the ones files of older versions
// hold unescaped.
void CXmlParser::CollectAttributeValue(std::string_view line, std::size_t i) {
  if (m_valueBuffer.empty()) {
    i = SkipSpace(line, i);
    if (i >= line.size()) {
      m_position = kNeedLine;
      return;
    }
    m_valueBuffer.push_back(line[i]);
    m_position = static_cast<std::ptrdiff_t>(i + 1);
    return;
  }
  const char opening = m_valueBuffer.front();
  const bool quoted = opening == '"' || opening == '\'';
  const std::size_t stop =
      FindStop(line, i, quoted ? std::string_view(&opening, 1) : std::string_view("\"'\n\r>"));
  m_valueBuffer.append(line.substr(i, stop - i));
  if (stop == line.size()) {
    m_position = static_cast<std::ptrdiff_t>(stop);  // the line break is added next step
    return;
  }
  const std::size_t first = quoted ? 1 : m_valueBuffer.find_first_not_of("\"'");
  m_attributeValue = first >= m_valueBuffer.size()
                         ? CPooledString()
                         : CPooledString(std::string_view(m_valueBuffer).substr(first));
  m_valueBuffer.clear();
  m_afterEquals = false;
  m_tokenKind = kXmlAttribute;
  m_position = static_cast<std::ptrdiff_t>(line[stop] == '>' ? stop : stop + 1);
}

// Text up to a line break or "<"; each piece replaces the previous text.
void CXmlParser::CollectText(std::string_view line, std::size_t i) {
  const std::size_t stop = FindStop(line, i, "\n\r<");
  m_text = CPooledString(line.substr(i, stop - i));
  m_tokenKind = m_text.IsEmpty() ? kXmlNothing : kXmlText;
  m_position = static_cast<std::ptrdiff_t>(stop);
  if (stop == line.size()) return;
  if (line[stop] == '<') {
    m_inContent = false;
    return;
  }
  // A line break character inside the line ends this piece; the text goes on
  // after it (stopping on it would find the same empty piece forever).
  m_position = static_cast<std::ptrdiff_t>(stop + 1);
}

// Outside text, comments and values: tag starts and ends, "?", "/", "=" and
// attribute names.
bool CXmlParser::ReadMarkup(std::string_view line, std::size_t i, std::string& message) {
  switch (line[i]) {
    case '<':
      return ReadTagStart(line, i + 1, message);
    case '?':  // the "?" of "?>"
      m_position = static_cast<std::ptrdiff_t>(i + 1);
      return true;
    case '/':  // the "/" of "/>": ends the element named last
      m_position = static_cast<std::ptrdiff_t>(FindStop(line, i, " \n\r>"));
      m_tokenKind = kXmlEndElement;
      return true;
    case '>':
      m_afterEquals = m_inTag = false;
      m_inContent = true;
      m_text.Clear();
      m_position = static_cast<std::ptrdiff_t>(i + 1);
      return true;
  }
  if (!m_inTag) {
    message = "Syntax error";
    return false;
  }
  return ReadAttributePart(line, i, message);
}

bool CXmlParser::ReadTagStart(std::string_view line, std::size_t i, std::string& message) {
  if (m_inTag) {
    message = "Bad '<' symbol";
    return false;
  }
  m_inTag = true;
  m_inCData = m_inComment = m_inContent = m_afterEquals = false;
  m_attributeNamePending = false;
  const std::size_t start = SkipSpace(line, i);
  if (start >= line.size()) {
    message = "'<' symbol not allowed at the end of a line";
    return false;
  }
  const std::string_view rest = line.substr(start);
  if (rest.starts_with("!--")) {
    m_tokenKind = kXmlComment;
    m_inComment = true;
    m_position = static_cast<std::ptrdiff_t>(start + 3);
    return true;
  }
  if (rest.starts_with("![CDATA[")) {
    m_tokenKind = kXmlCData;
    m_inCData = true;
    m_position = static_cast<std::ptrdiff_t>(start + 8);
    return true;
  }
  const std::size_t end = TagNameEnd(line, start);
  if (end == start) {
    message = "Empty element name";
    return false;
  }
  const std::string_view name = line.substr(start, end - start);
  if (name[0] == '?' || name[0] == '!') {
    m_tokenKind = kXmlDeclaration;
    m_declaration = name;
    m_elementName.Clear();
  } else if (name[0] == '/') {
    m_tokenKind = kXmlEndElement;
    m_elementName = CPooledString(name.substr(1));
  } else {
    m_tokenKind = kXmlStartElement;
    m_elementName = CPooledString(name);
  }
  m_position = static_cast<std::ptrdiff_t>(end);
  return true;
}

// Inside a tag: "=" starts the value of the attribute named just before it;
// anything else is an attribute name.
bool CXmlParser::ReadAttributePart(std::string_view line, std::size_t i, std::string& message) {
  if (line[i] == '=') {
    // Without a name of its own the value would be stored under a name left
    // over from an earlier attribute or tag.
    if (!m_attributeNamePending) {
      message = "Missing attribute name before '='";
      return false;
    }
    m_attributeNamePending = false;
    m_afterEquals = true;
    m_valueBuffer.clear();
    m_position = static_cast<std::ptrdiff_t>(i + 1);
    return true;
  }
  const std::size_t stop = FindStop(line, i, " \n\r=>");
  m_attributeName = CPooledString(line.substr(i, stop - i));
  m_attributeValue.Clear();
  m_attributeNamePending = true;
  m_position = static_cast<std::ptrdiff_t>(stop);
  return true;
}

// ---- LoadXmlFile and LoadXmlText: the tree builder ----

namespace {

// Turns the parser's tokens into nodes under a document node.
class CXmlTreeBuilder {
 public:
  CXmlTreeBuilder(CXmlNode& document, bool showErrors)
      : m_current(&document), m_showErrors(showErrors) {}

  bool IsGood() const { return m_good; }
  void Take(const CXmlParser& parser);

 private:
  const std::string& DecodedElementName(const CPooledString& raw);
  void StartElement(const std::string& name);
  void EndElement(const std::string& name);
  void Fail(const std::string& text);

  CXmlNode* m_current;
  bool m_showErrors;
  bool m_good = true;
  // The element name comes with every attribute and text token; decoding it once
  // per distinct name keeps a tag with many attributes linear.
  CPooledString m_rawElementName;
  std::string m_elementName;
};

const std::string& CXmlTreeBuilder::DecodedElementName(const CPooledString& raw) {
  if (raw != m_rawElementName) {
    m_rawElementName = raw;
    m_elementName = DecodeXmlText(raw.View());
  }
  return m_elementName;
}

void CXmlTreeBuilder::Fail(const std::string& text) {
  m_good = false;
  if (m_showErrors) ShowMessageBox(kBuilderCaption, text);
}

void CXmlTreeBuilder::StartElement(const std::string& name) {
  if (name.empty()) return;
  CXmlNode* child = m_current->AddChild(CPooledString(std::string_view(name)));
  if (child == nullptr) return Fail("out of memory");
  m_current = child;
}

// The end tag's name is not compared with the open element's: it closes it.
void CXmlTreeBuilder::EndElement(const std::string& name) {
  if (name.empty()) return;
  CXmlNode* parent = m_current->GetParent();
  if (parent == nullptr) return Fail("unbalanced " + name + " element tags");
  m_current = parent;
}

void CXmlTreeBuilder::Take(const CXmlParser& parser) {
  switch (parser.GetTokenKind()) {
    case kXmlStartElement:
      StartElement(DecodedElementName(parser.GetElementName()));
      return;
    case kXmlEndElement:
      EndElement(DecodedElementName(parser.GetElementName()));
      return;
    case kXmlAttribute: {
      const std::string name = DecodeXmlText(parser.GetAttributeName().View());
      if (name.empty() || DecodedElementName(parser.GetElementName()).empty()) return;
      const std::string value = DecodeXmlText(parser.GetAttributeValue().View());
      m_current->AddAttribute(CPooledString(std::string_view(name)),
                              CPooledString(std::string_view(value)));
      return;
    }
    case kXmlText: {
      const std::string_view raw = parser.GetText().View();
      if (DecodedElementName(parser.GetElementName()).empty() || !HasVisibleByte(raw)) return;
      m_current->SetText(CPooledString(std::string_view(DecodeXmlText(raw))));
      return;
    }
    default:
      return;  // steps, declarations, comments and CDATA add nothing
  }
}

// The tree builder over the tokens of `input`; parse errors are always shown.
bool LoadXml(std::istream& input, bool showErrors, CXmlNode& document) {
  CXmlParser parser(input);
  parser.SetShowErrors(true);
  CXmlTreeBuilder builder(document, showErrors);
  while (builder.IsGood() && parser.NextToken()) builder.Take(parser);
  return builder.IsGood();
}

}  // namespace

bool LoadXmlFile(const char* fileName, bool showErrors, CXmlNode& document) {
  if (fileName == nullptr || *fileName == '\0') return true;
  // Plain reading takes no lock, so other readers and writers may use the file.
  std::ifstream file(fileName, std::ios::in | std::ios::binary);
  if (!file.is_open()) return true;
  return LoadXml(file, showErrors, document);
}

bool LoadXmlText(std::string_view text, bool showErrors, CXmlNode& document) {
  std::istringstream input{std::string(text)};
  return LoadXml(input, showErrors, document);
}
