// The platform operations over the simulated machine.
#include "platform/sim/simulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <unordered_map>

#include "common/unicode.h"

using namespace platform;

namespace simulator {

const DWORD PROPERTY_CODES[PROPERTY_SLOTS] = {SPDRP_CLASS, SPDRP_ENUMERATOR_NAME, SPDRP_DRIVER, SPDRP_DEVICEDESC};

const char* const FAULT_OPERATIONS[FAULT_OPERATION_COUNT] = {
    "SetupDiGetClassDevsW",
    "SetupDiEnumDeviceInfo",
    "CM_Get_DevNode_Status",
    "SetupDiGetDeviceRegistryPropertyW",
    "SetupDiSetClassInstallParamsW",
    "SetupDiCallClassInstaller",
    "SetupDiGetDeviceInstallParamsW",
    "SetupDiDestroyDeviceInfoList",
    "RegOpenKeyExW",
    "RegSetValueExW",
    "RegDeleteValueW",
    "RegCloseKey",
    "LocalAlloc",
    "LocalFree",
};

namespace {

// What one open device information set holds for each of its members.
struct Member {
    bool HasParams = false;
    SP_PROPCHANGE_PARAMS Params = {};
    DWORD InstallFlags = 0;
};

struct DeviceSet {
    std::uintptr_t Id = 0;
    std::vector<Member> Members;
};

struct OpenKey {
    std::uintptr_t Id = 0;
    std::size_t KeyIndex = 0;
};

struct State {
    Machine machine;
    std::vector<std::int64_t> faultFired;
    std::uint64_t callCounts[FAULT_OPERATION_COUNT] = {};
    std::vector<int> faultOperations; // the operation index of each fault
    int depth = 0;                    // above 0 while a platform call runs
    std::uint64_t callsMade = 0;
    std::vector<Call> trace;
    bool tracing = true;
    std::string output;
    bool echo = false;
    DWORD lastError = 0;
    std::uintptr_t nextHandle = 1;
    std::vector<DeviceSet> sets;
    std::vector<OpenKey> keys;
    std::unordered_map<std::u16string, std::size_t> keyIndex; // by folded path
    std::map<void*, std::unique_ptr<BYTE[]>> blocks;
    std::map<void*, std::size_t> blockSizes;
    std::vector<std::string> violations;
};

State& Sim()
{
    static State state;
    return state;
}

// Handles are small numbers in a range no real pointer uses here.
constexpr std::uintptr_t SET_HANDLE_BASE = 0x5E700000;
constexpr std::uintptr_t KEY_HANDLE_BASE = 0x4E900000;

// The simulated machine has little memory to spare: a larger block cannot
// be allocated.
constexpr SIZE_T MAX_BLOCK_BYTES = SIZE_T{16} * 1024 * 1024;

constexpr DWORD REG_EXPAND_SZ = 2;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WOW64_RES = 0x300; // which registry view: no access right
constexpr DWORD REG_MULTI_SZ = 7;

std::string Decimal(std::uint64_t value)
{
    return std::to_string(value);
}

std::string Hex(std::uint64_t value)
{
    char text[24];
    (void)std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Quoted(const std::u16string& text)
{
    std::string out = "\"";
    for (char c : Utf16ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            (void)std::snprintf(escape, sizeof(escape), "\\x%02x",
                                static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string HexBytes(const BYTE* data, std::size_t size)
{
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        char byte[4];
        (void)std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : " %02x", static_cast<unsigned>(data[i]));
        out += byte;
    }
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

int OperationIndex(const char* name)
{
    for (int i = 0; i < FAULT_OPERATION_COUNT; ++i) {
        if (std::strcmp(FAULT_OPERATIONS[i], name) == 0) {
            return i;
        }
    }
    return -1;
}

// One platform call in progress. It marks the time spent inside the
// platform, and records the call when tracing is on; the texts of a record
// are built only then, so that an untraced call costs little.
class Recorder {
public:
    template <class MakeArguments> Recorder(const char* operation, MakeArguments arguments)
    {
        State& sim = Sim();
        ++sim.depth;
        ++sim.callsMade;
        if (sim.tracing) {
            sim.trace.push_back(Call{operation, arguments(), {}});
            index_ = sim.trace.size();
        }
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { --Sim().depth; }

    // Replaces the recorded results.
    template <class MakeResults> void Results(MakeResults results)
    {
        if (index_ != 0) {
            Sim().trace[index_ - 1].Results = results();
        }
    }

    // Adds one result, at the front or at the end.
    template <class MakeValue> void Add(const char* name, MakeValue value, bool atFront = false)
    {
        if (index_ != 0) {
            Fields& results = Sim().trace[index_ - 1].Results;
            results.insert(atFront ? results.begin() : results.end(), {name, value()});
        }
    }

private:
    std::size_t index_ = 0;
};

// Counts the call and answers the fault that fires on it, if any.
const Fault* FireFault(int operation, std::int64_t device = -1, std::int64_t property = -1,
                       std::int64_t stateChange = -1)
{
    State& sim = Sim();
    std::uint64_t nth = ++sim.callCounts[operation];
    for (std::size_t i = 0; i < sim.machine.Faults.size(); ++i) {
        const Fault& fault = sim.machine.Faults[i];
        if (sim.faultOperations[i] != operation || (fault.Nth != 0 && fault.Nth != nth) ||
            (fault.Device >= 0 && fault.Device != device) || (fault.Property >= 0 && fault.Property != property) ||
            (fault.StateChange >= 0 && fault.StateChange != stateChange) ||
            (fault.Times >= 0 && sim.faultFired[i] >= fault.Times)) {
            continue;
        }
        ++sim.faultFired[i];
        return &fault;
    }
    return nullptr;
}

BOOL Fail(Recorder& call, DWORD error)
{
    Sim().lastError = error;
    call.Results([error] { return Fields{{"ok", "0"}, {"error", Decimal(error)}}; });
    return FALSE;
}

// A call that succeeds leaves the last error as it was, as Wine's SetupAPI
// does.
BOOL Succeed(Recorder& call)
{
    call.Add(
        "ok", [] { return "1"; }, true);
    return TRUE;
}

DeviceSet* FindSet(HDEVINFO handle)
{
    for (DeviceSet& set : Sim().sets) {
        if (reinterpret_cast<HDEVINFO>(set.Id) == handle) {
            return &set;
        }
    }
    return nullptr;
}

// The member index that a filled record designates, or -1.
std::int64_t MemberIndex(const DeviceSet* set, const SP_DEVINFO_DATA* deviceInfo)
{
    if (set == nullptr || deviceInfo == nullptr || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA) ||
        deviceInfo->Reserved != set->Id || deviceInfo->DevInst == 0 || deviceInfo->DevInst > set->Members.size()) {
        return -1;
    }
    return deviceInfo->DevInst - 1;
}

// Checks a set and record for an operation on one member; answers the member
// index, or fails the call with the platform's error and answers -1.
std::int64_t CheckMember(Recorder& call, HDEVINFO handle, const SP_DEVINFO_DATA* deviceInfo)
{
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        Fail(call, ERROR_INVALID_HANDLE);
        return -1;
    }
    if (deviceInfo == nullptr || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
        Fail(call, ERROR_INVALID_USER_BUFFER);
        return -1;
    }
    std::int64_t index = MemberIndex(set, deviceInfo);
    if (index < 0) {
        Fail(call, ERROR_INVALID_PARAMETER);
    }
    return index;
}

int PropertySlotOf(DWORD code)
{
    for (int slot = 0; slot < PROPERTY_SLOTS; ++slot) {
        if (PROPERTY_CODES[slot] == code) {
            return slot;
        }
    }
    return -1;
}

std::size_t TextLength(const WCHAR* text)
{
    return text != nullptr ? std::char_traits<WCHAR>::length(text) : 0;
}

// A zero-terminated text as the platform would read it; null reads as empty.
std::u16string ReadText(const WCHAR* text)
{
    return std::u16string(text != nullptr ? text : u"", TextLength(text));
}

Key* FindKey(const WCHAR* path, std::size_t* index)
{
    State& sim = Sim();
    auto found = sim.keyIndex.find(FoldedRegistryName(path != nullptr ? path : u"", TextLength(path)));
    if (found == sim.keyIndex.end()) {
        return nullptr;
    }
    *index = found->second;
    return &sim.machine.Registry[found->second];
}

OpenKey* FindOpenKey(HKEY handle)
{
    for (OpenKey& key : Sim().keys) {
        if (reinterpret_cast<HKEY>(key.Id) == handle) {
            return &key;
        }
    }
    return nullptr;
}

std::string KeyName(HKEY handle)
{
    return handle == HKEY_LOCAL_MACHINE ? "HKLM" : Hex(reinterpret_cast<std::uintptr_t>(handle));
}

std::string BlockName(const void* block)
{
    auto found = Sim().blockSizes.find(const_cast<void*>(block));
    if (block == nullptr) {
        return "null";
    }
    return found == Sim().blockSizes.end() ? "foreign" : Decimal(found->second);
}

// Carries out a stored state change on a device, as its class installer would.
BOOL ApplyStateChange(Recorder& call, Device& device, Member& member)
{
    const SP_PROPCHANGE_PARAMS& params = member.Params;
    if (params.StateChange != DICS_ENABLE && params.StateChange != DICS_DISABLE) {
        return Succeed(call);
    }
    if (params.StateChange == DICS_DISABLE && (device.Status & DN_DISABLEABLE) == 0) {
        return Fail(call, ERROR_NOT_DISABLEABLE);
    }
    if (device.OnStateChange == Reaction::Ignore) {
        return Succeed(call);
    }
    if (device.OnStateChange == Reaction::Vetoed && params.StateChange == DICS_DISABLE) {
        // The driver refused to stop: the device runs on, and the disable
        // waits for the next boot.
        device.PendingDisable = true;
        member.InstallFlags |= DI_NEEDREBOOT;
        return Succeed(call);
    }
    device.PendingDisable = false;
    if (params.StateChange == DICS_DISABLE) {
        device.Status = (device.Status | DN_HAS_PROBLEM) & ~DN_STARTED;
        device.Problem = CM_PROB_DISABLED;
    } else {
        device.Status = (device.Status & ~DN_HAS_PROBLEM) | DN_STARTED;
        device.Problem = 0;
    }
    if (device.OnStateChange == Reaction::NeedRestart) {
        member.InstallFlags |= DI_NEEDRESTART;
    } else if (device.OnStateChange == Reaction::NeedReboot) {
        member.InstallFlags |= DI_NEEDREBOOT;
    }
    return Succeed(call);
}

} // namespace

std::string Call::Argument(const std::string& name) const
{
    for (const auto& argument : Arguments) {
        if (argument.first == name) {
            return argument.second;
        }
    }
    return "";
}

std::string Call::Result(const std::string& name) const
{
    for (const auto& result : Results) {
        if (result.first == name) {
            return result.second;
        }
    }
    return "";
}

std::string Call::Line() const
{
    std::string line = Operation;
    for (const auto& argument : Arguments) {
        line += " " + argument.first + "=" + argument.second;
    }
    line += " ->";
    for (const auto& result : Results) {
        line += " " + result.first + "=" + result.second;
    }
    return line;
}

void Install(Machine machine)
{
    State& sim = Sim();
    sim.machine = std::move(machine);
    sim.keyIndex.clear();
    for (std::size_t i = 0; i < sim.machine.Registry.size(); ++i) {
        const std::u16string& path = sim.machine.Registry[i].Path;
        sim.keyIndex.emplace(FoldedRegistryName(path.data(), path.size()), i);
    }
    sim.faultFired.assign(sim.machine.Faults.size(), 0);
    std::fill(std::begin(sim.callCounts), std::end(sim.callCounts), 0);
    sim.faultOperations.clear();
    for (const Fault& fault : sim.machine.Faults) {
        sim.faultOperations.push_back(OperationIndex(fault.Call.c_str()));
    }
    sim.callsMade = 0;
    sim.trace.clear();
    sim.tracing = true;
    sim.output.clear();
    sim.echo = false;
    sim.lastError = 0;
    sim.sets.clear();
    sim.keys.clear();
    sim.blocks.clear();
    sim.blockSizes.clear();
    sim.violations.clear();
}

Machine& Current()
{
    return Sim().machine;
}

const std::vector<Call>& Trace()
{
    return Sim().trace;
}

void SetTracing(bool enabled)
{
    Sim().tracing = enabled;
}

void SetLastError(DWORD error)
{
    Sim().lastError = error;
}

const std::string& Output()
{
    return Sim().output;
}

void SetEcho(bool enabled)
{
    Sim().echo = enabled;
}

std::vector<std::string> OpenResources()
{
    std::vector<std::string> open;
    for (const DeviceSet& set : Sim().sets) {
        open.push_back("device information set " + Hex(set.Id));
    }
    for (const OpenKey& key : Sim().keys) {
        open.push_back("registry key " + Utf16ToUtf8(Sim().machine.Registry[key.KeyIndex].Path));
    }
    for (const auto& block : Sim().blockSizes) {
        open.push_back("memory block of " + Decimal(block.second) + " bytes");
    }
    return open;
}

std::string QuoteText(const std::u16string& text)
{
    return Quoted(text);
}

std::uint64_t CallsMade()
{
    return Sim().callsMade;
}

std::uint64_t CallsOf(const char* operation)
{
    int index = OperationIndex(operation);
    return index < 0 ? 0 : Sim().callCounts[index];
}

bool InsidePlatform()
{
    return Sim().depth > 0;
}

const std::vector<std::string>& Violations()
{
    return Sim().violations;
}

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t point = REPLACEMENT_CHARACTER;
        std::size_t length = byte < 0x80                   ? 1
                             : byte >= 0xF0 && byte < 0xF5 ? 4
                             : byte >= 0xE0                ? 3
                             : byte >= 0xC2                ? 2
                                                           : 0;
        std::uint32_t minimum = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0x80;
        if (length == 1) {
            point = byte;
        } else if (length > 1 && i + length <= text.size()) {
            std::uint32_t value = byte & (0x7F >> length);
            bool valid = true;
            for (std::size_t k = 1; k < length && valid; ++k) {
                auto next = static_cast<unsigned char>(text[i + k]);
                valid = (next & 0xC0) == 0x80;
                value = (value << 6) | (next & 0x3F);
            }
            if (valid && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                point = value;
            } else {
                length = 1;
            }
        } else {
            length = 1;
        }
        i += length;
        if (point >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(point);
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string out;
    const WCHAR* at = text.data();
    const WCHAR* end = at + text.size();
    while (at < end) {
        char bytes[4];
        out.append(bytes, EncodeUtf8(DecodeUtf16(&at, end), bytes));
    }
    return out;
}

std::vector<std::uint8_t> TextBytes(const std::u16string& text)
{
    std::vector<std::uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

} // namespace simulator

// The platform operations themselves.
namespace platform {

using namespace simulator;

namespace {

enum OperationIndexes {
    OP_GET_CLASS_DEVS,
    OP_ENUM_DEVICE_INFO,
    OP_GET_DEVNODE_STATUS,
    OP_GET_PROPERTY,
    OP_SET_CLASS_INSTALL_PARAMS,
    OP_CALL_CLASS_INSTALLER,
    OP_GET_INSTALL_PARAMS,
    OP_DESTROY_LIST,
    OP_REG_OPEN,
    OP_REG_SET,
    OP_REG_DELETE,
    OP_REG_CLOSE,
    OP_LOCAL_ALLOC,
    OP_LOCAL_FREE,
};

std::string IndexText(std::int64_t index)
{
    return index < 0 ? "invalid" : Decimal(static_cast<std::uint64_t>(index));
}

} // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent, DWORD flags)
{
    Recorder call("SetupDiGetClassDevsW", [&] {
        return Fields{{"class", classGuid != nullptr ? "given" : "null"},
                      {"enumerator", enumerator != nullptr ? Quoted(ReadText(enumerator)) : "null"},
                      {"parent", parent != nullptr ? "given" : "null"},
                      {"flags", Hex(flags)}};
    });
    if (const Fault* fault = FireFault(OP_GET_CLASS_DEVS)) {
        Fail(call, fault->Error);
        return INVALID_HANDLE_VALUE;
    }
    // The simulated machine's devices are all present; with no class given
    // the set holds every one of them only when all classes are asked for.
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        Fail(call, ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    State& sim = Sim();
    DeviceSet set;
    set.Id = SET_HANDLE_BASE + sim.nextHandle++;
    set.Members.resize(sim.machine.Devices.size());
    sim.sets.push_back(set);
    call.Results([&] { return Fields{{"set", Hex(set.Id)}, {"members", Decimal(set.Members.size())}}; });
    Succeed(call);
    return reinterpret_cast<HDEVINFO>(set.Id);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfo)
{
    Recorder call("SetupDiEnumDeviceInfo", [&] {
        return Fields{{"index", Decimal(memberIndex)},
                      {"cbSize", deviceInfo != nullptr ? Decimal(deviceInfo->cbSize) : "null"}};
    });
    if (const Fault* fault = FireFault(OP_ENUM_DEVICE_INFO, memberIndex)) {
        return Fail(call, fault->Error);
    }
    DeviceSet* found = FindSet(set);
    if (found == nullptr) {
        return Fail(call, ERROR_INVALID_HANDLE);
    }
    if (deviceInfo == nullptr || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(call, ERROR_INVALID_USER_BUFFER);
    }
    if (memberIndex >= found->Members.size()) {
        return Fail(call, ERROR_NO_MORE_ITEMS);
    }
    deviceInfo->ClassGuid = GUID{};
    deviceInfo->DevInst = memberIndex + 1;
    deviceInfo->Reserved = found->Id;
    return Succeed(call);
}

CONFIGRET CM_Get_DevNode_Status(DWORD* status, DWORD* problemNumber, DEVINST devInst, DWORD flags)
{
    auto index = static_cast<std::int64_t>(devInst) - 1;
    Recorder call("CM_Get_DevNode_Status", [&] {
        return Fields{{"index", IndexText(index)}, {"flags", Decimal(flags)}};
    });
    std::vector<Device>& devices = Sim().machine.Devices;
    CONFIGRET result = CR_SUCCESS;
    if (const Fault* fault = FireFault(OP_GET_DEVNODE_STATUS, index)) {
        result = fault->Error;
    } else if (devInst == 0 || devInst > devices.size() || status == nullptr || problemNumber == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (devices[devInst - 1].StatusResult != CR_SUCCESS) {
        result = devices[devInst - 1].StatusResult;
    } else {
        *status = devices[devInst - 1].Status;
        *problemNumber = devices[devInst - 1].Problem;
        call.Results([&] {
            return Fields{{"result", "0"}, {"status", Hex(*status)}, {"problem", Decimal(*problemNumber)}};
        });
        return CR_SUCCESS;
    }
    call.Results([&] { return Fields{{"result", Decimal(result)}}; });
    return result;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize)
{
    State& sim = Sim();
    std::int64_t index = MemberIndex(FindSet(set), deviceInfo);
    Recorder call("SetupDiGetDeviceRegistryPropertyW", [&] {
        return Fields{{"index", IndexText(index)},
                      {"property", Decimal(property)},
                      {"size", Decimal(propertyBufferSize)},
                      {"block", BlockName(propertyBuffer)}};
    });
    // Writing past the block would corrupt the caller's memory; note the
    // misuse and keep to the block's real size.
    DWORD room = propertyBufferSize;
    auto known = sim.blockSizes.find(propertyBuffer);
    if (known != sim.blockSizes.end() && propertyBufferSize > known->second) {
        sim.violations.push_back("property read passed " + Decimal(propertyBufferSize) + " bytes for a block of " +
                                 Decimal(known->second));
        room = static_cast<DWORD>(known->second);
    }
    if (const Fault* fault = FireFault(OP_GET_PROPERTY, index, property)) {
        if (fault->SetsRequiredSize && requiredSize != nullptr) {
            *requiredSize = fault->RequiredSize;
            Fail(call, fault->Error);
            call.Add("required", [&] { return Decimal(fault->RequiredSize); });
            return FALSE;
        }
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, set, deviceInfo) < 0) {
        return FALSE;
    }
    // As Wine's SetupAPI answers: a size without a buffer is invalid data,
    // and a property that cannot be read reports the size passed in as the
    // required size.
    if (propertyBuffer == nullptr && propertyBufferSize != 0) {
        return Fail(call, ERROR_INVALID_DATA);
    }
    int slot = PropertySlotOf(property);
    const Device& device = sim.machine.Devices[static_cast<std::size_t>(index)];
    if (slot < 0 || !device.Properties[slot].Readable) {
        if (requiredSize != nullptr) {
            *requiredSize = propertyBufferSize;
        }
        Fail(call, slot < 0 ? ERROR_INVALID_DATA : device.Properties[slot].Error);
        call.Add("required", [&] { return Decimal(propertyBufferSize); });
        return FALSE;
    }
    const std::vector<std::uint8_t>& data = device.Properties[slot].Bytes;
    auto size = static_cast<DWORD>(data.size());
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
    if (propertyRegDataType != nullptr) {
        *propertyRegDataType = REG_SZ;
    }
    // A read given no room fails even for a property of no bytes, as Wine's
    // SetupAPI answers.
    if (size > propertyBufferSize || propertyBufferSize == 0) {
        Fail(call, ERROR_INSUFFICIENT_BUFFER);
        call.Add("required", [&] { return Decimal(size); });
        return FALSE;
    }
    if (size > 0) {
        std::memcpy(propertyBuffer, data.data(), size < room ? size : room);
    }
    call.Add("required", [&] { return Decimal(size); });
    return Succeed(call);
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                   SP_CLASSINSTALL_HEADER* classInstallParams, DWORD classInstallParamsSize)
{
    std::int64_t index = MemberIndex(FindSet(set), deviceInfo);
    const auto* params = reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(classInstallParams);
    bool whole = params != nullptr && classInstallParamsSize >= sizeof(SP_PROPCHANGE_PARAMS);
    Recorder call("SetupDiSetClassInstallParamsW", [&] {
        return Fields{{"index", IndexText(index)},
                      {"header", params != nullptr ? Decimal(params->ClassInstallHeader.cbSize) : "null"},
                      {"function", params != nullptr ? Hex(params->ClassInstallHeader.InstallFunction) : "null"},
                      {"stateChange", whole ? Decimal(params->StateChange) : "none"},
                      {"scope", whole ? Decimal(params->Scope) : "none"},
                      {"profile", whole ? Decimal(params->HwProfile) : "none"},
                      {"size", Decimal(classInstallParamsSize)}};
    });
    if (const Fault* fault = FireFault(OP_SET_CLASS_INSTALL_PARAMS, index, -1,
                                       whole ? static_cast<std::int64_t>(params->StateChange) : -1)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, set, deviceInfo) < 0) {
        return FALSE;
    }
    if (params == nullptr || params->ClassInstallHeader.cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
        params->ClassInstallHeader.InstallFunction != DIF_PROPERTYCHANGE ||
        classInstallParamsSize != sizeof(SP_PROPCHANGE_PARAMS)) {
        return Fail(call, ERROR_INVALID_PARAMETER);
    }
    Member& member = FindSet(set)->Members[static_cast<std::size_t>(index)];
    member.HasParams = true;
    member.Params = *params;
    return Succeed(call);
}

BOOL SetupDiCallClassInstaller(UINT installFunction, HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    DeviceSet* found = FindSet(set);
    std::int64_t index = MemberIndex(found, deviceInfo);
    const Member* member = index >= 0 ? &found->Members[static_cast<std::size_t>(index)] : nullptr;
    std::int64_t stateChange = member != nullptr && member->HasParams ? member->Params.StateChange : -1;
    Recorder call("SetupDiCallClassInstaller", [&] {
        return Fields{{"function", Hex(installFunction)},
                      {"index", IndexText(index)},
                      {"stateChange", stateChange < 0 ? "none" : Decimal(static_cast<std::uint64_t>(stateChange))},
                      {"scope", member != nullptr && member->HasParams ? Decimal(member->Params.Scope) : "none"}};
    });
    if (const Fault* fault = FireFault(OP_CALL_CLASS_INSTALLER, index, -1, stateChange)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, set, deviceInfo) < 0) {
        return FALSE;
    }
    if (installFunction != DIF_PROPERTYCHANGE) {
        return Fail(call, ERROR_INVALID_PARAMETER);
    }
    if (!Sim().machine.Elevated) {
        return Fail(call, ERROR_ACCESS_DENIED); // changing a device's state needs an administrator
    }
    Member& stored = found->Members[static_cast<std::size_t>(index)];
    if (!stored.HasParams) {
        return Fail(call, ERROR_NO_CLASSINSTALL_PARAMS);
    }
    return ApplyStateChange(call, Sim().machine.Devices[static_cast<std::size_t>(index)], stored);
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams)
{
    std::int64_t index = MemberIndex(FindSet(set), deviceInfo);
    Recorder call("SetupDiGetDeviceInstallParamsW", [&] {
        return Fields{{"index", IndexText(index)},
                      {"cbSize", deviceInstallParams != nullptr ? Decimal(deviceInstallParams->cbSize) : "null"}};
    });
    if (const Fault* fault = FireFault(OP_GET_INSTALL_PARAMS, index)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, set, deviceInfo) < 0) {
        return FALSE;
    }
    if (deviceInstallParams == nullptr || deviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
        return Fail(call, ERROR_INVALID_USER_BUFFER);
    }
    const Member& member = FindSet(set)->Members[static_cast<std::size_t>(index)];
    *deviceInstallParams = SP_DEVINSTALL_PARAMS_W{};
    deviceInstallParams->cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
    deviceInstallParams->Flags = member.InstallFlags;
    call.Add("flags", [&] { return Hex(member.InstallFlags); });
    return Succeed(call);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    Recorder call("SetupDiDestroyDeviceInfoList", [&] {
        return Fields{{"set", Hex(reinterpret_cast<std::uintptr_t>(set))}};
    });
    std::vector<DeviceSet>& sets = Sim().sets;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (reinterpret_cast<HDEVINFO>(sets[i].Id) == set) {
            // The set is released even when the call is made to report failure.
            sets.erase(sets.begin() + static_cast<std::ptrdiff_t>(i));
            if (const Fault* fault = FireFault(OP_DESTROY_LIST)) {
                return Fail(call, fault->Error);
            }
            return Succeed(call);
        }
    }
    return Fail(call, ERROR_INVALID_HANDLE);
}

namespace {

LSTATUS Answer(Recorder& call, DWORD status)
{
    call.Add(
        "result", [status] { return Decimal(status); }, true);
    return static_cast<LSTATUS>(status);
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    Recorder call("RegOpenKeyExW", [&] {
        return Fields{{"root", KeyName(key)},
                      {"path", subKey != nullptr ? Quoted(ReadText(subKey)) : "null"},
                      {"options", Decimal(options)},
                      {"access", Hex(samDesired)}};
    });
    if (const Fault* fault = FireFault(OP_REG_OPEN)) {
        return Answer(call, fault->Error);
    }
    if (key != HKEY_LOCAL_MACHINE || result == nullptr) {
        return Answer(call, ERROR_INVALID_HANDLE);
    }
    if (options != 0) {
        return Answer(call, ERROR_INVALID_PARAMETER);
    }
    std::size_t index = 0;
    Key* found = FindKey(subKey, &index);
    if (found == nullptr) {
        return Answer(call, ERROR_FILE_NOT_FOUND);
    }
    // A standard user may only read below the local machine root.
    bool writing = (samDesired & ~(KEY_READ | KEY_WOW64_RES)) != 0;
    if (writing && (found->DenyFullAccess || !Sim().machine.Elevated)) {
        return Answer(call, ERROR_ACCESS_DENIED);
    }
    OpenKey open;
    open.Id = KEY_HANDLE_BASE + Sim().nextHandle++;
    open.KeyIndex = index;
    Sim().keys.push_back(open);
    *result = reinterpret_cast<HKEY>(open.Id);
    call.Add("key", [&] { return Hex(open.Id); });
    return Answer(call, ERROR_SUCCESS);
}

LSTATUS RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize)
{
    Recorder call("RegSetValueExW", [&] {
        return Fields{{"key", KeyName(key)},
                      {"name", Quoted(ReadText(valueName))},
                      {"reserved", Decimal(reserved)},
                      {"type", Decimal(type)},
                      {"data", data != nullptr ? "\"" + HexBytes(data, dataSize) + "\"" : "null"},
                      {"size", Decimal(dataSize)}};
    });
    if (const Fault* fault = FireFault(OP_REG_SET)) {
        return Answer(call, fault->Error);
    }
    OpenKey* open = FindOpenKey(key);
    if (open == nullptr) {
        return Answer(call, ERROR_INVALID_HANDLE);
    }
    if (data == nullptr && dataSize != 0) {
        return Answer(call, ERROR_NOACCESS); // as Wine answers
    }
    if (reserved != 0) {
        return Answer(call, ERROR_INVALID_PARAMETER);
    }
    // A text whose size leaves out its terminating zero gets it counted in
    // when the code unit just past the size is zero, as the registry does;
    // that unit is read from the caller's memory.
    DWORD stored = dataSize;
    bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (text && data != nullptr && dataSize >= sizeof(WCHAR)) {
        // The unit past the size is looked at only when the last one is not
        // already a terminator.
        WCHAR last = 0;
        std::memcpy(&last, data + (dataSize / sizeof(WCHAR) - 1) * sizeof(WCHAR), sizeof(WCHAR));
        WCHAR next = 1;
        if (last != 0) {
            std::memcpy(&next, data + (dataSize / sizeof(WCHAR)) * sizeof(WCHAR), sizeof(WCHAR));
        }
        if (next == 0) {
            stored += sizeof(WCHAR);
        }
    }
    Value value;
    value.Type = type;
    value.Data.assign(data, data + stored);
    auto& values = Sim().machine.Registry[open->KeyIndex].Values;
    std::size_t nameLength = TextLength(valueName);
    bool replaced = false;
    for (auto& existing : values) {
        if (!replaced && SameRegistryName(existing.first.data(), existing.first.size(), valueName, nameLength)) {
            existing.second = value;
            replaced = true;
        }
    }
    if (!replaced) {
        values.emplace_back(ReadText(valueName), value);
    }
    call.Add("stored", [stored] { return Decimal(stored); });
    return Answer(call, ERROR_SUCCESS);
}

LSTATUS RegDeleteValueW(HKEY key, const WCHAR* valueName)
{
    Recorder call("RegDeleteValueW", [&] {
        return Fields{{"key", KeyName(key)}, {"name", Quoted(ReadText(valueName))}};
    });
    if (const Fault* fault = FireFault(OP_REG_DELETE)) {
        return Answer(call, fault->Error);
    }
    OpenKey* open = FindOpenKey(key);
    if (open == nullptr) {
        return Answer(call, ERROR_INVALID_HANDLE);
    }
    auto& values = Sim().machine.Registry[open->KeyIndex].Values;
    std::size_t nameLength = TextLength(valueName);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (SameRegistryName(values[i].first.data(), values[i].first.size(), valueName, nameLength)) {
            values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
            return Answer(call, ERROR_SUCCESS);
        }
    }
    return Answer(call, ERROR_FILE_NOT_FOUND);
}

LSTATUS RegCloseKey(HKEY key)
{
    Recorder call("RegCloseKey", [&] { return Fields{{"key", KeyName(key)}}; });
    std::vector<OpenKey>& keys = Sim().keys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (reinterpret_cast<HKEY>(keys[i].Id) == key) {
            keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(i));
            if (const Fault* fault = FireFault(OP_REG_CLOSE)) {
                return Answer(call, fault->Error); // the set is gone all the same
            }
            return Answer(call, ERROR_SUCCESS);
        }
    }
    return Answer(call, ERROR_INVALID_HANDLE);
}

WCHAR* lstrcpynW(WCHAR* destination, const WCHAR* source, int maxLength)
{
    // Copies at most maxLength - 1 code units, stopping at the terminator,
    // and always terminates a destination of non-zero length.
    Recorder call("lstrcpynW", [&] { return Fields{{"max", std::to_string(maxLength)}}; });
    int copied = 0;
    if (maxLength > 0) {
        while (copied < maxLength - 1 && source[copied] != 0) {
            destination[copied] = source[copied];
            ++copied;
        }
        destination[copied] = 0;
    }
    call.Add("text", [&] {
        return maxLength > 0 ? Quoted(std::u16string(destination, static_cast<std::size_t>(copied))) : "none";
    });
    return destination;
}

int lstrcmpW(const WCHAR* first, const WCHAR* second)
{
    // A plain comparison code unit by code unit; for texts of ASCII letters
    // it agrees with the platform's linguistic one.
    Recorder call("lstrcmpW", [&] {
        return Fields{{"first", Quoted(ReadText(first))}, {"second", Quoted(ReadText(second))}};
    });
    const WCHAR* a = first != nullptr ? first : u"";
    const WCHAR* b = second != nullptr ? second : u"";
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    int result = *a == *b ? 0 : *a < *b ? -1 : 1;
    call.Add("result", [result] { return std::to_string(result); });
    return result;
}

WCHAR* lstrcatW(WCHAR* destination, const WCHAR* source)
{
    Recorder call("lstrcatW", [&] { return Fields{{"source", Quoted(ReadText(source))}}; });
    std::size_t length = TextLength(destination);
    std::size_t appended = TextLength(source);
    std::memcpy(destination + length, source, appended * sizeof(WCHAR));
    destination[length + appended] = 0;
    call.Add("length", [&] { return Decimal(length + appended); });
    return destination;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    Recorder call("LocalAlloc", [&] { return Fields{{"flags", Hex(flags)}, {"bytes", Decimal(bytes)}}; });
    State& sim = Sim();
    if (const Fault* fault = FireFault(OP_LOCAL_ALLOC)) {
        sim.lastError = fault->Error;
        call.Results([&] { return Fields{{"block", "null"}, {"error", Decimal(fault->Error)}}; });
        return nullptr;
    }
    if (flags != LPTR || bytes > MAX_BLOCK_BYTES) {
        sim.lastError = flags != LPTR ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY;
        call.Results([&] { return Fields{{"block", "null"}, {"error", Decimal(sim.lastError)}}; });
        return nullptr;
    }
    // Exactly the bytes asked for, zero-filled, so that a read past the end
    // is caught by the sanitizers and memory checkers.
    std::unique_ptr<BYTE[]> block(new BYTE[bytes]());
    void* address = block.get();
    sim.blocks[address] = std::move(block);
    sim.blockSizes[address] = bytes;
    call.Results([] { return Fields{{"block", "ok"}}; });
    return address;
}

HLOCAL LocalFree(HLOCAL memory)
{
    Recorder call("LocalFree", [&] { return Fields{{"block", BlockName(memory)}}; });
    State& sim = Sim();
    if (const Fault* fault = FireFault(OP_LOCAL_FREE)) {
        sim.lastError = fault->Error;
        call.Results([&] { return Fields{{"result", "failed"}, {"error", Decimal(fault->Error)}}; });
        return memory;
    }
    auto found = sim.blocks.find(memory);
    if (found == sim.blocks.end()) {
        sim.lastError = ERROR_INVALID_HANDLE;
        call.Results([] { return Fields{{"result", "failed"}, {"error", Decimal(ERROR_INVALID_HANDLE)}}; });
        return memory;
    }
    sim.blocks.erase(found);
    sim.blockSizes.erase(memory);
    call.Results([] { return Fields{{"result", "freed"}}; });
    return nullptr;
}

DWORD GetLastError()
{
    DWORD error = Sim().lastError;
    Recorder call("GetLastError", [] { return Fields{}; });
    call.Add("error", [error] { return Decimal(error); });
    return error;
}

void WriteStandardOutput(const char* text, SIZE_T length)
{
    Recorder call("Output", [&] { return Fields{{"text", Quoted(Utf8ToUtf16(std::string(text, length)))}}; });
    State& sim = Sim();
    sim.output.append(text, length);
    if (sim.echo) {
        (void)std::fwrite(text, 1, length, stdout);
        (void)std::fflush(stdout);
    }
}

} // namespace platform
