// Throughput of FilterTraffic: pages in 16 KiB pieces and first request pieces,
// with the built-in rules and with a block list, on one and two threads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/default_config.h"
#include "rules/byte_search.h"
#include "rules/request_matching.h"
#include "rules/rule_set.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

constexpr std::size_t kPageSize = 200 * 1024;
constexpr std::size_t kPieceSize = 16 * 1024;
constexpr int kBlockListSize = 5000;

// The built-in configuration, read as the real file is.
std::unique_ptr<CXmlNode> LoadBuiltInConfig() {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  LoadXmlText(kDefaultConfigXml(), false, *document);
  return document;
}

const CXmlNode& BuiltInConfig() {
  static const std::unique_ptr<CXmlNode> document = LoadBuiltInConfig();
  return *document;
}

// Filtering on, and `ruleCount` rules holding `perRule` request contains conditions each.
std::unique_ptr<CXmlNode> BlockListConfig(int ruleCount, int perRule) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  CXmlNode* root = document->AddChild("lumbra");
  root->AddChild("enabled")->SetText("yes");
  CXmlNode* rules = root->AddChild("filterrules");
  int n = 0;
  for (int r = 0; r < ruleCount; ++r) {
    CXmlNode* rule = rules->AddChild("filterrule");
    rule->AddAttribute("name", CPooledString("block list " + std::to_string(r)));
    rule->AddChild("enabled")->SetText("yes");
    for (int c = 0; c < perRule; ++c, ++n) {
      const std::string host =
          "ads" + std::to_string(n) + ".tracker-" + std::to_string(n % 97) + ".net";
      rule->AddChild("request")->AddAttribute("contains", CPooledString(host));
    }
  }
  return document;
}

const CXmlNode& OneRuleBlockList() {
  static const std::unique_ptr<CXmlNode> document = BlockListConfig(1, kBlockListSize);
  return *document;
}

const CXmlNode& ManyRulesBlockList() {
  static const std::unique_ptr<CXmlNode> document = BlockListConfig(kBlockListSize, 1);
  return *document;
}

// About 200 KiB of a search-result-like page: links, scripts, and now and then
// the elements the built-in search-site rules remove.
const std::string& Page() {
  static const std::string page = [] {
    std::string html =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n<html><body>\n";
    for (int i = 0; html.size() < kPageSize; ++i) {
      const std::string n = std::to_string(i);
      if (i % 25 == 0) {
        html += "<div id=\"tads" + n + "\"><div class=\"ad\"><a href=\"http://ads.example/" + n +
                "\">Sponsored " + n + "</a></div><div>more</div></div>\n";
        html +=
            "<font size=-1>\n <a id=\"pa" + n + "\" href=\"http://ads.example/x\">ad</a></font>\n";
      }
      html += "<div class=\"g\" id=\"r" + n + "\"><h3><a href=\"http://www.site" + n +
              ".example/page.html\" onmousedown=\"return rwt(this)\">Result " + n +
              " title</a></h3><span class=\"st\">Lorem ipsum dolor sit amet, consectetur "
              "adipiscing elit, sed do eiusmod tempor incididunt ut labore.</span>"
              "<script>if(x)window.open('http://www.site" +
              n + ".example/');var r=document.referrer;</script></div>\n";
    }
    html.resize(kPageSize);
    return html;
  }();
  return page;
}

const char kBrowserRequest[] =
    "GET http://www.news-site.example/articles/2026/12/06/story-of-the-day.html HTTP/1.1\r\n"
    "Host: www.news-site.example\r\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0\r\n"
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,"
    "*/*;q=0.8\r\n"
    "Accept-Language: en-GB,en;q=0.5\r\n"
    "Accept-Encoding: gzip, deflate, br\r\n"
    "Referer: http://www.news-site.example/\r\n"
    "Connection: keep-alive\r\n"
    "Cookie: session=8f2d3c4b5a69788796a5b4c3d2e1f00112233445566778899; prefs=lang%3Den\r\n"
    "Upgrade-Insecure-Requests: 1\r\n"
    "Sec-Fetch-Dest: document\r\n"
    "Sec-Fetch-Mode: navigate\r\n"
    "\r\n";

// One page through the response filter, piece by piece, with the rules compiled
// once and the thread's own filter state (as every proxy connection has).
void PageBenchmark(benchmark::State& state, const char* requestUrl) {
  const CRuleSet rules(BuiltInConfig());
  CFilterState filterState;
  const PieceFlags flags{.startsMessage = true, .isRequest = false, .allowed = false};
  const std::string& page = Page();
  std::vector<char> buffer(kPieceSize + 1);
  std::int64_t decisions = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < page.size(); at += kPieceSize) {
      const std::size_t length = std::min(kPieceSize, page.size() - at);
      std::memcpy(buffer.data(), page.data() + at, length);
      buffer[length] = '\0';
      const FilterVerdict verdict =
          FilterTraffic(buffer.data(), length, flags, requestUrl, rules, filterState);
      benchmark::DoNotOptimize(verdict);
      ++decisions;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.counters["decisions"] =
      benchmark::Counter(static_cast<double>(decisions), benchmark::Counter::kIsRate);
}

void BM_Page_BuiltInRules_NoFromRequestMatch(benchmark::State& state) {
  PageBenchmark(state, "http://www.news-site.example/articles/story.html");
}

void BM_Page_BuiltInRules_FromRequestMatch(benchmark::State& state) {
  PageBenchmark(state, "http://www.google.com/search?q=filtering+proxy");
}

// The first piece of a request: the allow decision, then the filter, as the proxy
// asks them for every request.
void RequestBenchmark(benchmark::State& state, const CXmlNode& config) {
  const CRuleSet rules(config);
  CFilterState filterState;
  const std::size_t length = sizeof(kBrowserRequest) - 1;
  std::vector<char> buffer(kBrowserRequest, kBrowserRequest + length + 1);
  const std::string_view url =
      "http://www.news-site.example/articles/2026/12/06/story-of-the-day.html";
  for (auto _ : state) {
    std::memcpy(buffer.data(), kBrowserRequest, length + 1);
    const bool allowed = IsRequestAllowed(buffer.data(), length, url, rules, filterState);
    const PieceFlags flags{.startsMessage = true, .isRequest = true, .allowed = allowed};
    const FilterVerdict verdict =
        FilterTraffic(buffer.data(), length, flags, url, rules, filterState);
    benchmark::DoNotOptimize(verdict);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
  state.counters["decisions"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Request_BuiltInRules(benchmark::State& state) { RequestBenchmark(state, BuiltInConfig()); }

void BM_Request_BlockList5000InOneRule(benchmark::State& state) {
  RequestBenchmark(state, OneRuleBlockList());
}

void BM_Request_BlockList5000Rules(benchmark::State& state) {
  RequestBenchmark(state, ManyRulesBlockList());
}

// Baseline for the thread ratios: a search through the same pieces that shares
// nothing between threads, so its two-thread figure is what the machine gives
// two independent threads during this run.
void BM_Baseline_SearchPage(benchmark::State& state) {
  const std::string& page = Page();
  std::int64_t decisions = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < page.size(); at += kPieceSize) {
      const std::string_view piece(page.data() + at, std::min(kPieceSize, page.size() - at));
      benchmark::DoNotOptimize(CSearchNeedle("no-such-text", true).FindIn(piece, 0));
      ++decisions;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.counters["decisions"] =
      benchmark::Counter(static_cast<double>(decisions), benchmark::Counter::kIsRate);
}

// Loads the shared configurations before any timed thread starts.
void Prepare(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(&BuiltInConfig());
    benchmark::DoNotOptimize(&OneRuleBlockList());
    benchmark::DoNotOptimize(&ManyRulesBlockList());
    benchmark::DoNotOptimize(&Page());
  }
}

}  // namespace

BENCHMARK(Prepare)->Iterations(1);
BENCHMARK(BM_Baseline_SearchPage)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Page_BuiltInRules_NoFromRequestMatch)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Page_BuiltInRules_FromRequestMatch)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Request_BuiltInRules)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Request_BlockList5000InOneRule)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Request_BlockList5000Rules)->Threads(1)->Threads(2)->UseRealTime();
