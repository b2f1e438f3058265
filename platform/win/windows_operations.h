// The Windows backend: each operation passed straight to SetupAPI, the
// Configuration Manager, the registry and kernel32 (win_platform.cpp, and
// win_inspection.cpp for inspection.h's), and the table of them.
#pragma once

#include "platform/operations_table.h"

namespace platform {

namespace windows {
// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments) result name parameters;
#include "platform/inspection_operations.inc"
#include "platform/operations.inc"
#undef TESSARY_OPERATION
} // namespace windows

// The Windows backend's table, for a program's entry to choose.
const Operations& WindowsOperations();

} // namespace platform
