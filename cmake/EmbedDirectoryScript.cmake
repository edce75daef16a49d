# Writes OUTPUT: the bytes of every file named in LIST_FILE and a table of them.
file(READ ${LIST_FILE} inputs)
set(arrays "")
set(entries "")
set(index 0)
foreach(input ${inputs})
  get_filename_component(name ${input} NAME)
  file(READ ${input} content HEX)
  string(LENGTH "${content}" hex_length)
  math(EXPR byte_count "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes} 0};\n")
  string(APPEND entries "    {\"${name}\", std::string_view(reinterpret_cast<const char*>"
                        "(kFile${index}), ${byte_count})},\n")
  math(EXPR index "${index} + 1")
endforeach()
if(index EQUAL 0)
  set(table "std::span<const CEmbeddedFile> GetEmbeddedPanelFiles() { return {}; }\n")
else()
  set(table "namespace {\n${arrays}const CEmbeddedFile kFiles[] = {\n${entries}};\n}  // namespace\n"
            "std::span<const CEmbeddedFile> GetEmbeddedPanelFiles() { return kFiles; }\n")
endif()
file(WRITE ${OUTPUT}
  "// Generated from the control panel's files; do not edit.\n"
  "#include \"app/panel/panel_files.h\"\n"
  "${table}")
