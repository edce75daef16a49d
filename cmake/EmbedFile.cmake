# Turns a file into a C++ source that defines `std::string_view <symbol>()`
# returning the file's exact bytes, regenerated whenever the file changes.
function(lumbra_embed_file input symbol output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DSYMBOL=${symbol} -DOUTPUT=${output}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFileScript.cmake
    DEPENDS ${input} ${CMAKE_SOURCE_DIR}/cmake/EmbedFileScript.cmake
    COMMENT "Embedding ${input}")
endfunction()
