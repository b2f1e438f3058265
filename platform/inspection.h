// What the programs around the tool ask of the platform beyond what the tool
// calls: to take a read-only picture of a machine (a registry value, whether a
// key would be opened for an access without opening it for that access,
// whether the process runs elevated, setting the last error before a call
// that may leave it as it was, a device's instance ID), and to keep the
// deployment's journal of the restarts under way (a key made if it is not
// there, its values one by one, flushed to disk). Each backend implements
// these beside platform.h's, in the same table.
#pragma once

#include "platform/platform.h"

namespace platform {

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_QUERY_VALUE = 0x1;
constexpr REGSAM KEY_SET_VALUE = 0x2;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_MULTI_SZ = 7;        // a list of texts, each with its terminator, and one more after the last
constexpr DWORD DN_NEED_RESTART = 0x100; // status flag: the device waits for a restart of the computer
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;

struct SECURITY_ATTRIBUTES; // only ever passed as null: a new key takes its parent's security

} // namespace platform

namespace platform {

struct InspectionOperations {
// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments) result(*name) parameters;
#include "platform/inspection_operations.inc"
#undef TESSARY_OPERATION
};

// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments)                                                         \
    inline result name parameters                                                                                      \
    {                                                                                                                  \
        return detail::chosenOperations->Inspection->name arguments;                                                   \
    }
#include "platform/inspection_operations.inc"
#undef TESSARY_OPERATION

} // namespace platform
