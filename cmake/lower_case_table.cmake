# Writes a C++ source holding the registry's lower-case table: each UTF-16
# code unit whose simple lower-case mapping (UnicodeData.txt) leads to a code
# unit whose simple upper-case mapping leads back to it, with that lower case.
# This is the table Wine's RtlDowncaseUnicodeChar answers from, which its
# registry uses to compare key and value names.
# Usage: cmake -DINPUT=<UnicodeData.txt> -DOUTPUT=<source> -P lower_case_table.cmake
set(hex4 "[0-9A-F][0-9A-F][0-9A-F][0-9A-F]")
set(field "[^;]*;")
string(REPEAT "${field}" 11 fields_to_upper)
# Fields: 0 code, 1..11 others, 12 upper case, 13 lower case.
file(STRINGS "${INPUT}" with_lower REGEX "^${hex4};${fields_to_upper}[0-9A-F]*;${hex4};")
file(STRINGS "${INPUT}" with_upper REGEX "^${hex4};${fields_to_upper}${hex4};")
if(NOT with_lower OR NOT with_upper)
  message(FATAL_ERROR "${INPUT} holds no case mappings; is it UnicodeData.txt?")
endif()
foreach(line IN LISTS with_upper)
  string(REGEX MATCH "^(${hex4});${fields_to_upper}(${hex4});" ignored "${line}")
  set(upper_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
endforeach()
set(pairs "")
set(count 0)
foreach(line IN LISTS with_lower)
  string(REGEX MATCH "^(${hex4});${fields_to_upper}[0-9A-F]*;(${hex4});" ignored "${line}")
  set(code ${CMAKE_MATCH_1})
  set(lower ${CMAKE_MATCH_2})
  if(DEFINED upper_${lower} AND upper_${lower} STREQUAL code)
    string(APPEND pairs "    {0x${code}, 0x${lower}},\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
file(WRITE "${OUTPUT}.new"
"// Generated from ${INPUT} by cmake/lower_case_table.cmake; do not edit.\n"
"#include \"platform/sim/registry_names.h\"\n\n"
"namespace simulator {\n\n"
"// ${count} code units and their lower case, in the order of the code units.\n"
"extern const char16_t LOWER_CASE_PAIRS[][2] = {\n${pairs}};\n"
"extern const unsigned LOWER_CASE_PAIR_COUNT = ${count};\n\n"
"} // namespace simulator\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
