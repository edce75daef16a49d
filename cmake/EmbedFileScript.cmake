file(READ ${INPUT} content HEX)
string(LENGTH "${content}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE ${OUTPUT}
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <string_view>\n"
  "namespace {\n"
  "const unsigned char kBytes[] = {${bytes} 0};\n"
  "}\n"
  "std::string_view ${SYMBOL}() {\n"
  "  return std::string_view(reinterpret_cast<const char*>(kBytes), ${byte_count});\n"
  "}\n")
