# Builds the console's asset files into the program: each file under assets/
# becomes a generated source in the build tree, defining a byte array.
set(ASSET_GEN_DIR ${CMAKE_BINARY_DIR}/generated/assets)

# symbol:file under assets/:mode (modes: see cmake/embed.cmake).
set(PAGE_ASSETS
  html_headers:html_headers.txt:crlf
  page_template:page.html:template
  password_template:password.html:template
  theme_head:theme_head.html:chomp
  theme_tail:theme_tail.html:raw
)

set(ASSET_SOURCES)
foreach(item IN LISTS PAGE_ASSETS)
  string(REPLACE ":" ";" entry ${item})
  list(GET entry 0 name)
  list(GET entry 1 file)
  list(GET entry 2 mode)
  set(in ${PROJECT_SOURCE_DIR}/assets/${file})
  set(out ${ASSET_GEN_DIR}/${name}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${in} -DOUT=${out} -DNAME=${name} -DMODE=${mode}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding assets/${file}"
    VERBATIM)
  list(APPEND ASSET_SOURCES ${out})
endforeach()
