# Turns one asset file into a C++ source that defines it as a byte array.
# Run as: cmake -DIN=<file> -DOUT=<source> -DNAME=<symbol> [-DMODE=<mode>] -P embed.cmake
#
# The array holds the file's bytes and a terminating NUL; NAME_len is the count
# without the NUL. Modes:
#   raw       the bytes as they stand (default)
#   crlf      line ends become CR LF, whatever the file has (header blocks)
#   chomp     one final line feed is dropped (blocks that must end without one)
#   template  7-bit ASCII with no control bytes but the line feed; the readable
#             markers "<!-- @theme_head -->" and "<!-- @theme_tail -->" must each
#             stand exactly once and become the bytes 0x01 and 0x02
# Arrays are used rather than string literals, which some compilers cap in size.
cmake_minimum_required(VERSION 3.20)

foreach(var IN ITEMS IN OUT NAME)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT DEFINED MODE)
  set(MODE raw)
endif()

# One "0xNN," token per byte. "x" appears only in "0x", so a search for a token
# sequence can only match on token boundaries.
function(to_tokens text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "0x\\1," tokens "${hex}")
  set(${out} "${tokens}" PARENT_SCOPE)
endfunction()

function(count_of haystack needle out)
  string(LENGTH "${haystack}" total)
  string(REPLACE "${needle}" "" rest "${haystack}")
  string(LENGTH "${rest}" left)
  string(LENGTH "${needle}" one)
  math(EXPR n "(${total} - ${left}) / ${one}")
  set(${out} ${n} PARENT_SCOPE)
endfunction()

file(READ "${IN}" hex HEX)
string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")

# Files checked out with CR LF line ends must give the same bytes as LF ones.
if(MODE STREQUAL "crlf" OR MODE STREQUAL "chomp" OR MODE STREQUAL "template")
  string(REPLACE "0x0d,0x0a," "0x0a," bytes "${bytes}")
endif()

if(MODE STREQUAL "crlf")
  string(REPLACE "0x0a," "0x0d,0x0a," bytes "${bytes}")
elseif(MODE STREQUAL "chomp")
  string(REGEX REPLACE "0x0a,$" "" bytes "${bytes}")
elseif(MODE STREQUAL "template")
  if(bytes MATCHES "0x[89a-f][0-9a-f],|0x0[0-9b-f],|0x1[0-9a-f],|0x7f,")
    message(FATAL_ERROR "${IN}: only 7-bit ASCII text is allowed (line feeds as the only control bytes)")
  endif()
  foreach(marker IN ITEMS theme_head:0x01, theme_tail:0x02,)
    string(REPLACE ":" ";" marker ${marker})
    list(GET marker 0 which)
    list(GET marker 1 byte)
    to_tokens("<!-- @${which} -->" needle)
    count_of("${bytes}" "${needle}" n)
    if(NOT n EQUAL 1)
      message(FATAL_ERROR "${IN}: the marker <!-- @${which} --> must stand exactly once (found ${n})")
    endif()
    string(REPLACE "${needle}" "${byte}" bytes "${bytes}")
  endforeach()
elseif(NOT MODE STREQUAL "raw")
  message(FATAL_ERROR "embed.cmake: unknown MODE ${MODE}")
endif()

string(LENGTH "${bytes}" chars)
math(EXPR size "${chars} / 5")
# Sixteen bytes to a line keeps the generated file readable in a debugger.
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n  " body "${bytes}")

# The file's name only: the path of the checkout must not reach the build.
get_filename_component(in_name "${IN}" NAME)
set(source "// Generated from assets/${in_name}; do not edit.\n#include <cstddef>\n\n")
string(APPEND source "extern const unsigned char ${NAME}[] = {\n  ${body}0x00};\n")
string(APPEND source "extern const size_t ${NAME}_len = ${size};\n")
file(WRITE "${OUT}" "${source}")
