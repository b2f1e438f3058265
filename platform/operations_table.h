// The table of the platform's operations: a pointer to each operation of
// platform.h and inspection.h, filled by one backend and chosen where the
// program starts. The program's calls of platform::X go through the table in
// use. A layer may wrap another table by calling through it, as the
// deployment's observer does. A backend fills its table from the lists:
//
//   #define TESSARY_OPERATION(result, name, parameters, arguments) table.name = &backend::name;
//   #include "platform/inspection_operations.inc"
//   #include "platform/operations.inc"
//   #undef TESSARY_OPERATION
#pragma once

#include "platform/inspection.h"
#include "platform/platform.h"

namespace platform {

struct Operations {
// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments) result(*name) parameters;
#include "platform/inspection_operations.inc"
#include "platform/operations.inc"
#undef TESSARY_OPERATION
};

// Makes table the one every platform::X call goes through from now on.
void UseOperations(const Operations* table);

// The table in use. A program that calls through the boundary before it has
// chosen one stops at once, with a message on standard error and exit status
// 70: it never falls back on a backend of its own.
const Operations& CurrentOperations();

} // namespace platform
