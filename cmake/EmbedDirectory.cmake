# Turns every file of a folder into one C++ source that defines
# `GetEmbeddedPanelFiles()`: a table of file names and their exact bytes,
# regenerated whenever a file changes (the glob is redone when files come or go).
function(lumbra_embed_directory folder output)
  file(GLOB inputs CONFIGURE_DEPENDS ${folder}/*)
  list(SORT inputs)
  set(list_file ${output}.inputs)
  file(WRITE ${list_file}.new "${inputs}")
  file(COPY_FILE ${list_file}.new ${list_file} ONLY_IF_DIFFERENT)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DLIST_FILE=${list_file} -DOUTPUT=${output}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedDirectoryScript.cmake
    DEPENDS ${inputs} ${list_file} ${CMAKE_SOURCE_DIR}/cmake/EmbedDirectoryScript.cmake
    COMMENT "Embedding ${folder}")
endfunction()
