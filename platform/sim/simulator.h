// The simulated platform: a machine of devices and a registry held in memory,
// standing in for the Windows services behind platform.h. Every platform call
// is recorded with the arguments that matter, and any call can be made to
// fail on demand. Tests and the simulated build's main() drive it through the
// functions below.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/registry_names.h"

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

// The operations that a fault can make fail.
constexpr int FAULT_OPERATION_COUNT = 14;
extern const char* const FAULT_OPERATIONS[FAULT_OPERATION_COUNT];

// The four properties a device holds, in the order of the machine file.
enum PropertySlot { SLOT_CLASS, SLOT_ENUMERATOR, SLOT_DRIVER, SLOT_DESCRIPTION, PROPERTY_SLOTS };
extern const DWORD PROPERTY_CODES[PROPERTY_SLOTS];

struct Property {
    bool Readable = false;
    std::vector<std::uint8_t> Bytes;  // the data as the platform returns it
    DWORD Error = ERROR_INVALID_DATA; // the last error when not readable
};

// How a device answers the class installer's state changes.
enum class Reaction {
    Adapter,     // disabling leaves DN_HAS_PROBLEM with problem 22; enabling clears it
    Ignore,      // the change succeeds and nothing happens
    NeedRestart, // as Adapter, and asks for a restart (DI_NEEDRESTART)
    NeedReboot,  // as Adapter, and asks for a reboot (DI_NEEDREBOOT)
    Vetoed,      // its driver will not stop: disabling asks for a reboot (DI_NEEDREBOOT)
                 // and leaves the disable pending, the device running; enabling cancels it
};

struct Device {
    CONFIGRET StatusResult = platform::CR_SUCCESS; // non-zero: the status query fails with it
    DWORD Status = DEFAULT_STATUS;
    DWORD Problem = 0;
    Property Properties[PROPERTY_SLOTS];
    Reaction OnStateChange = Reaction::Adapter;
    bool PendingDisable = false; // a disable that takes effect at the next boot
};

struct Value {
    DWORD Type = 0;
    std::vector<std::uint8_t> Data;
    bool operator==(const Value& other) const { return Type == other.Type && Data == other.Data; }
};

// A key below the local machine root, its path without a leading backslash.
struct Key {
    std::u16string Path;
    bool DenyFullAccess = false;
    std::vector<std::pair<std::u16string, Value>> Values;
};

// A failure to inject: the named operation fails, with Error as its last
// error or returned code, on the calls that match every filter given.
struct Fault {
    std::string Call;
    std::uint64_t Nth = 0;         // 0: any call; n: only the n-th call of that operation
    std::int64_t Device = -1;      // member index, for the device operations
    std::int64_t Property = -1;    // property code, for property reads
    std::int64_t StateChange = -1; // for storing parameters and calling the class installer
    DWORD Error = 0;
    bool SetsRequiredSize = false; // a property read then reports RequiredSize
    DWORD RequiredSize = 0;
    std::int64_t Times = 1; // how often it fires; -1: every time
};

struct Machine {
    // False: the tool runs as a standard user. Opening a key below the local
    // machine root for more than reading, and the class installer's property
    // changes, are then refused with ERROR_ACCESS_DENIED.
    bool Elevated = true;
    std::vector<Device> Devices;
    std::vector<Key> Registry;
    std::vector<Fault> Faults;
};

// One recorded platform call: its operation, the arguments that matter and
// what it answered, each as name and text.
struct Call {
    std::string Operation;
    std::vector<std::pair<std::string, std::string>> Arguments;
    std::vector<std::pair<std::string, std::string>> Results;

    // The argument or result of that name, or "" when the call has none.
    std::string Argument(const std::string& name) const;
    std::string Result(const std::string& name) const;
    // "Operation name=value ... -> name=value ...", as in the trace file.
    std::string Line() const;
};

// Makes this the machine that the platform calls act on, and starts a new
// trace and output; anything left open by an earlier run is forgotten.
void Install(Machine machine);
Machine& Current();

const std::vector<Call>& Trace();
// Turns recording of the trace off or on (on after Install).
void SetTracing(bool enabled);

// Sets the error that GetLastError answers next, as SetLastError does.
void SetLastError(DWORD error);

// Everything the tool wrote to standard output since Install.
const std::string& Output();
// Also write the output to the real standard output (off after Install).
void SetEcho(bool enabled);

// What the tool left open: device sets, registry keys and memory blocks.
std::vector<std::string> OpenResources();

// Platform calls made since Install, string functions included; and the
// calls of one of the operations that a fault can make fail.
std::uint64_t CallsMade();
std::uint64_t CallsOf(const char* operation);

// True while a platform call runs: a memory allocation made then is the
// platform's, not the tool's.
bool InsidePlatform();

// Misuses of the platform that a real one would not survive (a size passed
// beyond its block); empty when the tool behaved.
const std::vector<std::string>& Violations();

// A text as the trace writes it: in double quotes, with '"' and '\' escaped
// and control characters as \xNN.
std::string QuoteText(const std::u16string& text);

// Text conversions used by the simulator and its tests.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
// The UTF-16 bytes of a text followed by its terminating zero.
std::vector<std::uint8_t> TextBytes(const std::u16string& text);

} // namespace simulator
