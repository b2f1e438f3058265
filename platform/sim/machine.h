// The simulated machine: its devices, its registry and the failures to
// inject. This is the model that machine files describe and tests build.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace simulator {

using platform::CONFIGRET;
using platform::DWORD;

// Errors and results that the simulator answers, with the platform's values.
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
constexpr DWORD ERROR_NO_CLASSINSTALL_PARAMS = 0xE0000215;
constexpr DWORD ERROR_NOT_DISABLEABLE = 0xE0000231;
constexpr CONFIGRET CR_INVALID_DEVNODE = 5;

// Status flags beyond the two the tool tests.
constexpr DWORD DN_DRIVER_LOADED = 0x2;
constexpr DWORD DN_STARTED = 0x8;
constexpr DWORD DN_NT_ENUMERATOR = 0x800000;
constexpr DWORD DN_NT_DRIVER = 0x1000000;
// A working, disableable device.
constexpr DWORD DEFAULT_STATUS =
    DN_DRIVER_LOADED | DN_STARTED | platform::DN_DISABLEABLE | DN_NT_ENUMERATOR | DN_NT_DRIVER;

// The device properties a simulated device holds, each once: its slot, the
// property code the platform reads it by, and its member in machine files.
// A row here is all a new property needs in the simulator.
#define SIMULATOR_DEVICE_PROPERTIES(PROPERTY)                                                                          \
    PROPERTY(CLASS, platform::SPDRP_CLASS, "class")                                                                    \
    PROPERTY(ENUMERATOR, platform::SPDRP_ENUMERATOR_NAME, "enumerator")                                                \
    PROPERTY(DRIVER, platform::SPDRP_DRIVER, "driver")                                                                 \
    PROPERTY(DESCRIPTION, platform::SPDRP_DEVICEDESC, "description")

enum PropertySlot {
#define SIMULATOR_PROPERTY_SLOT(slot, code, member) SLOT_##slot,
    SIMULATOR_DEVICE_PROPERTIES(SIMULATOR_PROPERTY_SLOT)
#undef SIMULATOR_PROPERTY_SLOT
        PROPERTY_SLOTS
};

struct PropertyKind {
    DWORD Code;
    const char* Member;
};

inline constexpr PropertyKind PROPERTY_KINDS[PROPERTY_SLOTS] = {
#define SIMULATOR_PROPERTY_KIND(slot, code, member) {code, member},
    SIMULATOR_DEVICE_PROPERTIES(SIMULATOR_PROPERTY_KIND)
#undef SIMULATOR_PROPERTY_KIND
};

// The slot of a property code, or -1.
int PropertySlotOf(DWORD code);

struct Property {
    std::vector<std::uint8_t> Bytes;  // the data as the platform returns it
    DWORD Error = ERROR_INVALID_DATA; // the last error when not readable
    bool Readable = false;
};

// How a device answers the class installer's state changes.
enum class Reaction {
    Adapter,     // disabling leaves DN_HAS_PROBLEM with problem 22; enabling clears it
    Ignore,      // the change succeeds and nothing happens
    NeedRestart, // as Adapter, and asks for a restart (DI_NEEDRESTART)
    NeedReboot,  // as Adapter, and asks for a reboot (DI_NEEDREBOOT)
    Vetoed,      // its driver will not stop: disabling asks for a reboot (DI_NEEDREBOOT)
                 // and leaves the disable pending, the device running; enabling cancels it
    Stuck,       // disabling as Adapter; enabling succeeds and nothing happens (its
                 // driver's own installer ignores it), so the device stays disabled
};

struct Device {
    CONFIGRET StatusResult = platform::CR_SUCCESS; // non-zero: the status query fails with it
    DWORD Status = DEFAULT_STATUS;
    DWORD Problem = 0;
    Property Properties[PROPERTY_SLOTS];
    Reaction OnStateChange = Reaction::Adapter;
    bool PendingDisable = false; // a disable that takes effect at the next boot
    std::u16string InstanceId;   // empty: DefaultInstanceId of its member index
};

// The instance ID of a device that the machine gives none: "ROOT\SIMULATED\0003" for the fourth.
std::u16string DefaultInstanceId(std::size_t index);

struct Value {
    DWORD Type = 0;
    std::vector<std::uint8_t> Data;
    bool operator==(const Value& other) const { return Type == other.Type && Data == other.Data; }
};

// A key below the local machine root, its path without a leading backslash.
struct Key {
    std::u16string Path;
    bool DenyFullAccess = false;
    bool DenyRead = false; // opening it at all is refused (error 5)
    std::vector<std::pair<std::u16string, Value>> Values;
};

// The filters a fault on an operation may use beyond "nth" and "times".
enum FaultFilters : unsigned {
    NO_FILTER = 0,
    DEVICE_FILTER = 1,       // the member index the call is about
    PROPERTY_FILTER = 2,     // the property code read
    STATE_CHANGE_FILTER = 4, // the state change stored or carried out
    REQUIRED_SIZE = 8,       // a failure with error 122 may report a required size
};

// How an operation reports a failure: through the last error, or as the
// code it returns (for which 0 means success).
enum class FailureReport { LastError, ReturnedCode };

// The operations a fault can make fail, each once: its name, the filters a
// fault on it may use, and how it reports a failure. A row here is all a new
// operation needs in the fault machinery, the machine files and the trace.
#define SIMULATOR_FAULT_OPERATIONS(OPERATION)                                                                          \
    OPERATION(SetupDiGetClassDevsW, NO_FILTER, LastError)                                                              \
    OPERATION(SetupDiEnumDeviceInfo, DEVICE_FILTER, LastError)                                                         \
    OPERATION(CM_Get_DevNode_Status, DEVICE_FILTER, ReturnedCode)                                                      \
    OPERATION(SetupDiGetDeviceRegistryPropertyW, DEVICE_FILTER | PROPERTY_FILTER | REQUIRED_SIZE, LastError)           \
    OPERATION(SetupDiSetClassInstallParamsW, DEVICE_FILTER | STATE_CHANGE_FILTER, LastError)                           \
    OPERATION(SetupDiCallClassInstaller, DEVICE_FILTER | STATE_CHANGE_FILTER, LastError)                               \
    OPERATION(SetupDiGetDeviceInstallParamsW, DEVICE_FILTER, LastError)                                                \
    OPERATION(SetupDiDestroyDeviceInfoList, NO_FILTER, LastError)                                                      \
    OPERATION(RegOpenKeyExW, NO_FILTER, ReturnedCode)                                                                  \
    OPERATION(RegSetValueExW, NO_FILTER, ReturnedCode)                                                                 \
    OPERATION(RegDeleteValueW, NO_FILTER, ReturnedCode)                                                                \
    OPERATION(RegCloseKey, NO_FILTER, ReturnedCode)                                                                    \
    OPERATION(RegQueryValueExW, NO_FILTER, ReturnedCode)                                                               \
    OPERATION(CheckKeyAccess, NO_FILTER, ReturnedCode)                                                                 \
    OPERATION(SetupDiGetDeviceInstanceIdW, DEVICE_FILTER, LastError)                                                   \
    OPERATION(RegCreateKeyExW, NO_FILTER, ReturnedCode)                                                                \
    OPERATION(RegEnumValueW, NO_FILTER, ReturnedCode)                                                                  \
    OPERATION(RegFlushKey, NO_FILTER, ReturnedCode)                                                                    \
    OPERATION(LocalAlloc, NO_FILTER, LastError)                                                                        \
    OPERATION(LocalFree, NO_FILTER, LastError)

enum class Operation {
#define SIMULATOR_OPERATION_ENUM(name, filters, report) name,
    SIMULATOR_FAULT_OPERATIONS(SIMULATOR_OPERATION_ENUM)
#undef SIMULATOR_OPERATION_ENUM
};

struct OperationKind {
    const char* Name;
    unsigned Filters;
    FailureReport Report;
};

inline constexpr OperationKind OPERATION_KINDS[] = {
#define SIMULATOR_OPERATION_KIND(name, filters, report) {#name, filters, FailureReport::report},
    SIMULATOR_FAULT_OPERATIONS(SIMULATOR_OPERATION_KIND)
#undef SIMULATOR_OPERATION_KIND
};
constexpr int OPERATION_COUNT = static_cast<int>(sizeof(OPERATION_KINDS) / sizeof(OPERATION_KINDS[0]));

const OperationKind& KindOf(Operation operation);
// The operation of that name; false when no operation that can fail has it.
bool OperationNamed(const std::string& name, Operation* operation);

// A failure to inject: the operation fails, with Error as its last error or
// returned code, on the calls that match every filter given; or, with Kill,
// the run stops at that call, before it takes effect, as a process killed
// there would (see simulator::Killed).
struct Fault {
    Operation Call = Operation::SetupDiGetClassDevsW;
    std::uint64_t Nth = 0;         // 0: any call; n: only the n-th call of that operation
    std::int64_t Device = -1;      // member index (DEVICE_FILTER)
    std::int64_t Property = -1;    // property code (PROPERTY_FILTER)
    std::int64_t StateChange = -1; // state change (STATE_CHANGE_FILTER)
    DWORD Error = 0;
    bool SetsRequiredSize = false; // a property read then reports RequiredSize
    DWORD RequiredSize = 0;
    std::int64_t Times = 1; // how often it fires; -1: every time
    bool Kill = false;
};

// Why a fault cannot be: the member at fault and the problem, both empty
// when it can be. A filter its operation does not take, a success code given
// as the error (or an error given with Kill), or a count of 0.
struct FaultProblem {
    std::string Member;
    std::string Problem;
};
FaultProblem ProblemOf(const Fault& fault);

struct Machine {
    // False: the tool runs as a standard user. Opening a key below the local
    // machine root for more than reading, and the class installer's property
    // changes, are then refused with ERROR_ACCESS_DENIED.
    bool Elevated = true;
    std::vector<Device> Devices;
    std::vector<Key> Registry;
    std::vector<Fault> Faults;
};

} // namespace simulator
