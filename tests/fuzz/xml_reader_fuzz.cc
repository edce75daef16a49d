// Fuzz target: reads arbitrary bytes as an XML document and decodes them as text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/code_page.h"
#include "core/user_messages.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Thousands of parse errors: keep them off the terminal.
  SetMessageEcho(false);
  SetMessageListener([](std::string_view, std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the narrow set, so the iconv paths are fuzzed too, and
  // another bit whether the builder's own errors are shown.
  static const char* const kCharsets[] = {"UTF-8", "UTF-8", "CP1252", "CP932"};
  const std::uint8_t choice = size > 0 ? data[0] : 0;
  SetNarrowCharset(kCharsets[choice % 4]);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CXmlNode document("__root__");
  LoadXmlText(text, (choice & 4) != 0, document);
  CXmlNode copy;
  copy.CopyFrom(&document);

  DecodeXmlText(text);
  return 0;
}
