// Fuzz target: a tree built from arbitrary bytes (names from a safe alphabet,
// attribute values and texts any bytes) is written as the configuration is saved,
// read back, and must come back the same, apart from the control characters the
// writer replaces.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/user_messages.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

namespace {

constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxTextLength = 96;

// Takes the fuzz input front to back; past its end every byte reads as 0.
class CInput {
 public:
  CInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  bool IsEmpty() const { return m_at >= m_size; }
  std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  std::string_view Text() {
    const std::size_t length = std::min<std::size_t>(Byte() % kMaxTextLength, m_size - m_at);
    const std::string_view text(reinterpret_cast<const char*>(m_data) + m_at, length);
    m_at += length;
    return text;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

// A name of one to four letters; `unique` keeps the attribute names of one
// element apart, as XML requires.
CPooledString SafeName(std::uint8_t seed, int unique) {
  std::string name(1 + seed % 4, static_cast<char>('a' + seed % 26));
  if (unique >= 0) name += std::to_string(unique);
  return CPooledString(std::string_view(name));
}

void BuildTree(CInput& input, CXmlNode& root) {
  CXmlNode* current = &root;
  int depth = 0;
  while (!input.IsEmpty()) {
    const std::uint8_t operation = input.Byte();
    switch (operation % 4) {
      case 0:
        if (depth == kMaxDepth) break;
        current = current->AddChild(SafeName(input.Byte(), -1));
        ++depth;
        break;
      case 1:
        if (depth == 0) break;
        current = current->GetParent();
        --depth;
        break;
      case 2: {
        const CPooledString name = SafeName(operation / 4, current->GetAttributeCount());
        current->AddAttribute(name, CPooledString(input.Text()));
        break;
      }
      default:
        current->SetText(CPooledString(input.Text()));
    }
  }
}

// What a text reads back as: up to its first NUL, each control character that
// XML 1.0 forbids replaced by U+FFFD.
std::string Expected(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string expected;
  for (char c : text) {
    const bool forbidden =
        static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    if (forbidden) {
      expected += "\xEF\xBF\xBD";
    } else {
      expected += c;
    }
  }
  return expected;
}

void RequireSame(const CXmlNode& written, const CXmlNode& read) {
  bool same = written.GetName() == read.GetName() &&
              Expected(written.GetText().View()) == read.GetText().View() &&
              written.GetAttributeCount() == read.GetAttributeCount() &&
              written.GetChildCount() == read.GetChildCount();
  for (int i = 0; same && i < written.GetAttributeCount(); ++i)
    same = written.GetAttributeName(i) == read.GetAttributeName(i) &&
           Expected(written.GetAttributeValue(i).View()) == read.GetAttributeValue(i).View();
  if (!same) std::abort();
  for (int i = 0; i < written.GetChildCount(); ++i)
    RequireSame(*written.GetChild(i), *read.GetChild(i));
}

// The file both sides use: an in-memory file reached through its /proc path.
const std::string& FilePath() {
  static const std::string path = [] {
    const int descriptor = memfd_create("lumbra-xml-round-trip", 0);
    if (descriptor < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(descriptor);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetMessageEcho(false);
  // Any message of the reader means the written file was not read as written.
  SetMessageListener([](std::string_view, std::string_view) { std::abort(); });
  FilePath();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CInput input(data, size);
  CXmlNode root("lumbra");
  BuildTree(input, root);

  CXmlFileWriter writer{CPooledString(std::string_view(FilePath()))};
  if (!WriteXmlNode(writer, root) || !writer.Close()) std::abort();
  CXmlNode document("__root__");
  if (!LoadXmlFile(FilePath().c_str(), true, document) || document.GetChildCount() != 1)
    std::abort();
  RequireSame(root, *document.GetChild(0));
  return 0;
}
