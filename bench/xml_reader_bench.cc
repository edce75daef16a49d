// Reading speed of LoadXmlFile: the built-in configuration and single lines of
// growing length, whose time should grow in proportion to their size.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/user_messages.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

// Writes `content` to a fresh temporary file, removed when the run ends.
class CBenchFile {
 public:
  explicit CBenchFile(const std::string& content) {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumbra-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    m_folder = pattern;
    m_path = (m_folder / "input.xml").string();
    std::ofstream(m_path, std::ios::binary) << content;
  }
  ~CBenchFile() {
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder);
  }
  const std::string& Path() const { return m_path; }

 private:
  std::filesystem::path m_folder;
  std::string m_path;
};

void RunLoad(benchmark::State& state, const std::string& content) {
  CBenchFile file(content);
  for (auto _ : state) {
    CXmlNode document("__root__");
    benchmark::DoNotOptimize(LoadXmlFile(file.Path().c_str(), true, document));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * content.size()));
}

std::string DefaultConfig() {
  const char* source = std::getenv("LUMBRA_SOURCE_DIR");
  std::ifstream in(std::string(source ? source : ".") + "/resources/default-config.xml",
                   std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void BM_LoadDefaultConfig(benchmark::State& state) { RunLoad(state, DefaultConfig()); }

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
