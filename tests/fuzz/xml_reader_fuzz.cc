// Fuzz target: reads arbitrary bytes as an XML file and decodes them as text.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/code_page.h"
#include "core/user_messages.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

// One input file per process: an in-memory file reached through its /proc path
// (a disk file's truncate and rewrite would cost more than the parse), else a
// temporary file removed when the process ends.
class CFuzzInputFile {
 public:
  CFuzzInputFile() {
    m_descriptor = memfd_create("lumbra-xml-fuzz", 0);
    if (m_descriptor >= 0) {
      m_path = "/proc/self/fd/" + std::to_string(m_descriptor);
      return;
    }
    m_path = (std::filesystem::temp_directory_path() / "lumbra-xml-fuzz-XXXXXX").string();
    m_descriptor = mkstemp(m_path.data());
    m_temporary = true;
  }
  ~CFuzzInputFile() {
    if (m_descriptor >= 0) close(m_descriptor);
    if (m_temporary) unlink(m_path.c_str());
  }
  CFuzzInputFile(const CFuzzInputFile&) = delete;
  CFuzzInputFile& operator=(const CFuzzInputFile&) = delete;

  const std::string& Write(const std::uint8_t* data, std::size_t size) {
    if (ftruncate(m_descriptor, 0) != 0) return m_path;
    std::size_t done = 0;
    while (done < size) {
      const ssize_t written = pwrite(m_descriptor, data + done, size - done, done);
      if (written <= 0) break;
      done += static_cast<std::size_t>(written);
    }
    return m_path;
  }

 private:
  int m_descriptor = -1;
  bool m_temporary = false;
  std::string m_path;
};

CFuzzInputFile& InputFile() {
  static CFuzzInputFile file;
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Thousands of parse errors: keep them off the terminal.
  SetMessageEcho(false);
  SetMessageListener([](std::string_view, std::string_view) {});
  InputFile();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the narrow set, so the iconv paths are fuzzed too, and
  // another bit whether the builder's own errors are shown.
  static const char* const kCharsets[] = {"UTF-8", "UTF-8", "CP1252", "CP932"};
  const std::uint8_t choice = size > 0 ? data[0] : 0;
  SetNarrowCharset(kCharsets[choice % 4]);

  const std::string& path = InputFile().Write(data, size);
  CXmlNode document("__root__");
  LoadXmlFile(path.c_str(), (choice & 4) != 0, document);
  CXmlNode copy;
  copy.CopyFrom(&document);

  DecodeXmlText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
