// Choosing the table of operations: where each program starts, its entry
// makes one backend's table the one every platform::X call goes through. A
// layer may wrap another table by calling through it, as the deployment's
// observer does. A backend fills its tables from the lists:
//
//   InspectionOperations inspection = {};
//   #define TESSARY_OPERATION(result, name, parameters, arguments) inspection.name = &backend::name;
//   #include "platform/inspection_operations.inc"
//   #undef TESSARY_OPERATION
//   Operations table = {};
//   #define TESSARY_OPERATION(result, name, parameters, arguments) table.name = &backend::name;
//   #include "platform/operations.inc"
//   #undef TESSARY_OPERATION
//   table.Inspection = &inspection;
#pragma once

#include "platform/inspection.h"
#include "platform/platform.h"

namespace platform {

// Makes table, which outlives its use, the one every platform::X call goes
// through from now on; null chooses none again: every call then stops the
// program with a message on standard error and exit status 70.
void UseOperations(const Operations* table);

} // namespace platform
