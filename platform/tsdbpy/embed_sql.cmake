# Turns a SQL file into a C++ source defining tsdbpy::detail::schema_sql().
# Usage: cmake -DINPUT=<file.sql> -DOUTPUT=<file.cpp> -P embed_sql.cmake
# The text is written as character escapes, so no content of the file can
# end the literal early.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
# Line breaks every 16 characters keep the generated file readable.
string(REGEX REPLACE "(('[^']+',){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by embed_sql.cmake; do not edit.\n"
  "#include <string_view>\n\n"
  "namespace tsdbpy::detail {\n\n"
  "namespace {\n"
  "constexpr char kSchema[] = {\n    ${bytes}'\\0'};\n"
  "}  // namespace\n\n"
  "std::string_view schema_sql() { return {kSchema, ${size}}; }\n\n"
  "}  // namespace tsdbpy::detail\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
