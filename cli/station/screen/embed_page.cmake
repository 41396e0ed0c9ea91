# Writes OUTPUT, a C++ source that holds each file of FILES (NAME=PATH
# pairs, ';'-separated) as the bytes `extern const char NAME[]` and their
# count `extern const std::size_t NAME_size`: the screen's page, built into
# the program so that it needs no files beside it.
set(source "// Made by embed_page.cmake from the screen's page files.\n#include <cstddef>\n\nnamespace morvane::cli::page {\n")
foreach(pair IN LISTS FILES)
  string(REGEX MATCH "^([A-Za-z_]+)=(.*)$" _ "${pair}")
  set(name "${CMAKE_MATCH_1}")
  file(READ "${CMAKE_MATCH_2}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND source "extern const char ${name}[] = {${bytes}'\\0'};\nextern const std::size_t ${name}_size = ${size};\n")
endforeach()
string(APPEND source "}  // namespace morvane::cli::page\n")
file(WRITE "${OUTPUT}.new" "${source}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
