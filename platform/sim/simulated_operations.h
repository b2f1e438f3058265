// The double's operations, as the files named after the libraries they
// stand in for define them (internal: programs and tests choose the table,
// simulator::PlatformOperations()).
#pragma once

#include "platform/operations_table.h"

namespace platform {
namespace simulated {
// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments) result name parameters;
#include "platform/inspection_operations.inc"
#include "platform/operations.inc"
#undef TESSARY_OPERATION
} // namespace simulated
} // namespace platform
