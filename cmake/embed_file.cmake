# Writes a C++ source that holds a file's bytes as a string.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<source> -DNAME=<function> -P embed_file.cmake
file(READ "${INPUT}" content HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${content}")
file(WRITE "${OUTPUT}.new"
"// Generated from ${INPUT}; do not edit.\n#include <string>\n\nnamespace simulator {\n\nconst std::string& ${NAME}()\n{\n    static const char bytes[] = {${bytes} 0};\n    static const std::string text(bytes, sizeof(bytes) - 1);\n    return text;\n}\n\n} // namespace simulator\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
