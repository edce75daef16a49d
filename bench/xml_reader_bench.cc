// Reading speed of the XML reader: the built-in configuration and single lines of
// growing length, whose time should grow in proportion to their size.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "config/config_store.h"
#include "core/user_messages.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

void RunLoad(benchmark::State& state, std::string_view content) {
  for (auto _ : state) {
    CXmlNode document("__root__");
    benchmark::DoNotOptimize(LoadXmlText(content, true, document));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}

void BM_LoadDefaultConfig(benchmark::State& state) { RunLoad(state, GetDefaultConfigText()); }

// One line of text inside an element.
void BM_LoadTextLine(benchmark::State& state) {
  RunLoad(state, "<a>" + std::string(state.range(0), 'x') + "</a>");
}

// One tag with many attributes on one line.
void BM_LoadAttributeLine(benchmark::State& state) {
  std::string tag = "<a";
  while (tag.size() < static_cast<std::size_t>(state.range(0))) tag += " k='v'";
  RunLoad(state, tag + "/>");
}

// One attribute value spanning many short lines.
void BM_LoadMultiLineValue(benchmark::State& state) {
  std::string value = "<a v=\"";
  while (value.size() < static_cast<std::size_t>(state.range(0))) value += "line\n";
  RunLoad(state, value + "\"/>");
}

}  // namespace

BENCHMARK(BM_LoadDefaultConfig);
BENCHMARK(BM_LoadTextLine)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAttributeLine)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadMultiLineValue)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
