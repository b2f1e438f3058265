// The operating-system boundary: the records, constants and operations that
// Tessary calls, under the platform's own names. A backend implements them,
// chosen where the program starts: the Windows backend passes each call
// straight to SetupAPI, the Configuration Manager, the registry and kernel32;
// the simulated backend stands in on every other system, and in the tests.
//
// Text is UTF-16 throughout (WCHAR is char16_t here, whatever the size of the
// compiler's wchar_t). Records mirror the platform's layouts field for field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using BOOL = int;
using BYTE = std::uint8_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using WCHAR = char16_t;
using LSTATUS = LONG;
using CONFIGRET = DWORD;
using DEVINST = DWORD;
using REGSAM = DWORD;
using HDEVINFO = void*;
using HLOCAL = void*;
using HWND = void*;
struct RegistryKeyHandle;
using HKEY = RegistryKeyHandle*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct GUID {
    DWORD Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    BYTE Data4[8];
};

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};

struct SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    UINT InstallFunction;
};

struct SP_PROPCHANGE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD StateChange;
    DWORD Scope;
    DWORD HwProfile;
};

constexpr int MAX_PATH = 260;

struct SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    void* InstallMsgHandler;
    void* InstallMsgHandlerContext;
    void* FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    WCHAR DriverPath[MAX_PATH];
};

// Errors and results.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_DATA = 13; // a device property the device does not have
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr CONFIGRET CR_SUCCESS = 0;

// Device set and properties.
constexpr DWORD DIGCF_PRESENT = 0x2;
constexpr DWORD DIGCF_ALLCLASSES = 0x4;
constexpr DWORD SPDRP_DEVICEDESC = 0;
constexpr DWORD SPDRP_CLASS = 7;
constexpr DWORD SPDRP_DRIVER = 9;
constexpr DWORD SPDRP_ENUMERATOR_NAME = 0x16;

// Device status.
constexpr DWORD DN_HAS_PROBLEM = 0x400;
constexpr DWORD DN_DISABLEABLE = 0x2000;
constexpr DWORD CM_PROB_DISABLED = 0x16;
constexpr DWORD CM_PROB_HARDWARE_DISABLED = 0x1D;

// State changes through the class installer.
constexpr UINT DIF_PROPERTYCHANGE = 0x12;
constexpr DWORD DICS_ENABLE = 1;
constexpr DWORD DICS_DISABLE = 2;
constexpr DWORD DICS_FLAG_GLOBAL = 1;
constexpr DWORD DICS_FLAG_CONFIGSPECIFIC = 2;
constexpr DWORD DI_NEEDRESTART = 0x80;
constexpr DWORD DI_NEEDREBOOT = 0x100;

// Registry.
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_SZ = 1;

// Memory.
constexpr UINT LPTR = 0x40; // fixed block, zero-filled

// Handle values; the platform defines them as casts, so they cannot be
// constant expressions.
inline HDEVINFO const INVALID_HANDLE_VALUE = reinterpret_cast<HDEVINFO>(~ULONG_PTR{0});
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<std::intptr_t>(LONG{-2147483646})));

} // namespace platform

// The operations. Each call goes through the table of operations that the
// program's entry chose (platform/operations_table.h): the Windows backend's,
// the double's, or the deployment's observer over one of them. The records
// and constants above are the same for every backend.
namespace platform {

struct InspectionOperations; // those only the programs around the tool call (inspection.h)

// A backend's table: a pointer to each operation the tool calls, and the
// table of the others.
struct Operations {
// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments) result(*name) parameters;
#include "platform/operations.inc"
#undef TESSARY_OPERATION
    const InspectionOperations* Inspection;
};

namespace detail {
// The table in use. Until a program chooses one, each of its operations stops
// the program with a message, so that none falls back on a backend of its own.
extern const Operations* chosenOperations;
} // namespace detail

// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments)                                                         \
    inline result name parameters                                                                                      \
    {                                                                                                                  \
        return detail::chosenOperations->name arguments;                                                               \
    }
#include "platform/operations.inc"
#undef TESSARY_OPERATION

} // namespace platform

// The other way across the boundary: the tool's entry, which a backend's
// process entry calls with the command line; it answers the process's exit
// status. Its contract is in app/command_dispatch.h.
int TessaryMain(int argc, const platform::WCHAR* const* argv);
