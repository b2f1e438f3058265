// The platform operations over the simulated machine.
#include "platform/sim/simulator.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "common/unicode.h"

using namespace platform;

namespace simulator {

const DWORD PROPERTY_CODES[PROPERTY_SLOTS] = {SPDRP_CLASS, SPDRP_ENUMERATOR_NAME, SPDRP_DRIVER, SPDRP_DEVICEDESC};

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
    std::map<std::string, std::uint64_t> callCounts;
    std::vector<Call> trace;
    bool tracing = true;
    std::string output;
    bool echo = false;
    DWORD lastError = 0;
    std::uintptr_t nextHandle = 1;
    std::vector<DeviceSet> sets;
    std::vector<OpenKey> keys;
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

constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_MULTI_SZ = 7;

std::string Decimal(std::uint64_t value)
{
    return std::to_string(value);
}

std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
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
            std::snprintf(escape, sizeof(escape), "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A zero-terminated text as the platform would read it; null reads as null.
std::u16string ReadText(const WCHAR* text)
{
    return text != nullptr ? std::u16string(text) : std::u16string();
}

std::string HexBytes(const BYTE* data, std::size_t size)
{
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : " %02x", static_cast<unsigned>(data[i]));
        out += byte;
    }
    return out;
}

// Records one call; the returned reference takes its results.
Call& Record(const char* operation, std::vector<std::pair<std::string, std::string>> arguments)
{
    State& sim = Sim();
    static Call discarded;
    if (!sim.tracing) {
        discarded = Call{};
        return discarded;
    }
    sim.trace.push_back(Call{operation, std::move(arguments), {}});
    return sim.trace.back();
}

// Counts the call and answers the fault that fires on it, if any.
const Fault* FireFault(const char* operation, std::int64_t device = -1, std::int64_t property = -1,
                       std::int64_t stateChange = -1)
{
    State& sim = Sim();
    std::uint64_t nth = ++sim.callCounts[operation];
    for (std::size_t i = 0; i < sim.machine.Faults.size(); ++i) {
        const Fault& fault = sim.machine.Faults[i];
        if (fault.Call != operation || (fault.Nth != 0 && fault.Nth != nth) ||
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

BOOL Fail(Call& call, DWORD error)
{
    Sim().lastError = error;
    call.Results = {{"ok", "0"}, {"error", Decimal(error)}};
    return FALSE;
}

// A call that succeeds leaves the last error as it was, as Wine's SetupAPI
// does.
BOOL Succeed(Call& call)
{
    call.Results.insert(call.Results.begin(), {"ok", "1"});
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
std::int64_t CheckMember(Call& call, HDEVINFO handle, const SP_DEVINFO_DATA* deviceInfo)
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

Key* FindKey(const std::u16string& path, std::size_t* index)
{
    std::vector<Key>& registry = Sim().machine.Registry;
    for (std::size_t i = 0; i < registry.size(); ++i) {
        if (SameRegistryName(registry[i].Path, path)) {
            *index = i;
            return &registry[i];
        }
    }
    return nullptr;
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
BOOL ApplyStateChange(Call& call, Device& device, Member& member)
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
    sim.faultFired.assign(sim.machine.Faults.size(), 0);
    sim.callCounts.clear();
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

bool SameRegistryName(const std::u16string& first, const std::u16string& second)
{
    if (first.size() != second.size()) {
        return false;
    }
    for (std::size_t i = 0; i < first.size(); ++i) {
        char16_t a = first[i] >= u'a' && first[i] <= u'z' ? static_cast<char16_t>(first[i] - 32) : first[i];
        char16_t b = second[i] >= u'a' && second[i] <= u'z' ? static_cast<char16_t>(second[i] - 32) : second[i];
        if (a != b) {
            return false;
        }
    }
    return true;
}

} // namespace simulator

// The platform operations themselves.
namespace platform {

using namespace simulator;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent, DWORD flags)
{
    Call& call = Record("SetupDiGetClassDevsW", {{"class", classGuid != nullptr ? "given" : "null"},
                                                 {"enumerator", enumerator != nullptr ? Quoted(enumerator) : "null"},
                                                 {"parent", parent != nullptr ? "given" : "null"},
                                                 {"flags", Hex(flags)}});
    if (const Fault* fault = FireFault("SetupDiGetClassDevsW")) {
        Fail(call, fault->Error);
        return INVALID_HANDLE_VALUE;
    }
    State& sim = Sim();
    DeviceSet set;
    set.Id = SET_HANDLE_BASE + sim.nextHandle++;
    // The simulated machine's devices are all present; with no class given
    // the set holds every one of them only when all classes are asked for.
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        Fail(call, ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    set.Members.resize(sim.machine.Devices.size());
    sim.sets.push_back(set);
    call.Results = {{"set", Hex(set.Id)}, {"members", Decimal(set.Members.size())}};
    Succeed(call);
    return reinterpret_cast<HDEVINFO>(set.Id);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfo)
{
    Call& call =
        Record("SetupDiEnumDeviceInfo", {{"index", Decimal(memberIndex)},
                                         {"cbSize", deviceInfo != nullptr ? Decimal(deviceInfo->cbSize) : "null"}});
    if (const Fault* fault = FireFault("SetupDiEnumDeviceInfo", memberIndex)) {
        return Fail(call, fault->Error);
    }
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) {
        return Fail(call, ERROR_INVALID_HANDLE);
    }
    if (deviceInfo == nullptr || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(call, ERROR_INVALID_USER_BUFFER);
    }
    if (memberIndex >= set->Members.size()) {
        return Fail(call, ERROR_NO_MORE_ITEMS);
    }
    deviceInfo->ClassGuid = GUID{};
    deviceInfo->DevInst = memberIndex + 1;
    deviceInfo->Reserved = set->Id;
    return Succeed(call);
}

CONFIGRET CM_Get_DevNode_Status(DWORD* status, DWORD* problemNumber, DEVINST devInst, DWORD flags)
{
    Call& call = Record("CM_Get_DevNode_Status", {{"index", Decimal(devInst - 1)}, {"flags", Decimal(flags)}});
    std::vector<Device>& devices = Sim().machine.Devices;
    CONFIGRET result = CR_SUCCESS;
    if (const Fault* fault = FireFault("CM_Get_DevNode_Status", static_cast<std::int64_t>(devInst) - 1)) {
        result = fault->Error;
    } else if (devInst == 0 || devInst > devices.size() || status == nullptr || problemNumber == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (devices[devInst - 1].StatusResult != CR_SUCCESS) {
        result = devices[devInst - 1].StatusResult;
    } else {
        *status = devices[devInst - 1].Status;
        *problemNumber = devices[devInst - 1].Problem;
        call.Results = {{"result", "0"}, {"status", Hex(*status)}, {"problem", Decimal(*problemNumber)}};
        return CR_SUCCESS;
    }
    call.Results = {{"result", Decimal(result)}};
    return result;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO handle, SP_DEVINFO_DATA* deviceInfo, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize)
{
    State& sim = Sim();
    std::int64_t index = MemberIndex(FindSet(handle), deviceInfo);
    std::string block = BlockName(propertyBuffer);
    Call& call = Record("SetupDiGetDeviceRegistryPropertyW", {{"index", Decimal(static_cast<std::uint64_t>(index))},
                                                              {"property", Decimal(property)},
                                                              {"size", Decimal(propertyBufferSize)},
                                                              {"block", block}});
    if (index < 0) {
        call.Arguments[0].second = "invalid";
    }
    // Writing past the block would corrupt the caller's memory; note the
    // misuse and keep to the block's real size.
    DWORD room = propertyBufferSize;
    auto known = sim.blockSizes.find(propertyBuffer);
    if (known != sim.blockSizes.end() && propertyBufferSize > known->second) {
        sim.violations.push_back("property read passed " + Decimal(propertyBufferSize) + " bytes for a block of " +
                                 Decimal(known->second));
        room = static_cast<DWORD>(known->second);
    }
    if (const Fault* fault = FireFault("SetupDiGetDeviceRegistryPropertyW", index, property)) {
        if (fault->SetsRequiredSize && requiredSize != nullptr) {
            *requiredSize = fault->RequiredSize;
            Fail(call, fault->Error);
            call.Results.push_back({"required", Decimal(fault->RequiredSize)});
            return FALSE;
        }
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, handle, deviceInfo) < 0) {
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
        call.Results.push_back({"required", Decimal(propertyBufferSize)});
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
    if (size > propertyBufferSize) {
        Fail(call, ERROR_INSUFFICIENT_BUFFER);
        call.Results.push_back({"required", Decimal(size)});
        return FALSE;
    }
    if (size > 0) {
        std::memcpy(propertyBuffer, data.data(), size < room ? size : room);
    }
    call.Results.push_back({"required", Decimal(size)});
    return Succeed(call);
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO handle, SP_DEVINFO_DATA* deviceInfo,
                                   SP_CLASSINSTALL_HEADER* classInstallParams, DWORD classInstallParamsSize)
{
    std::int64_t index = MemberIndex(FindSet(handle), deviceInfo);
    const auto* params = reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(classInstallParams);
    bool whole = params != nullptr && classInstallParamsSize >= sizeof(SP_PROPCHANGE_PARAMS);
    Call& call = Record("SetupDiSetClassInstallParamsW",
                        {{"index", index < 0 ? "invalid" : Decimal(static_cast<std::uint64_t>(index))},
                         {"header", params != nullptr ? Decimal(params->ClassInstallHeader.cbSize) : "null"},
                         {"function", params != nullptr ? Hex(params->ClassInstallHeader.InstallFunction) : "null"},
                         {"stateChange", whole ? Decimal(params->StateChange) : "none"},
                         {"scope", whole ? Decimal(params->Scope) : "none"},
                         {"profile", whole ? Decimal(params->HwProfile) : "none"},
                         {"size", Decimal(classInstallParamsSize)}});
    if (const Fault* fault = FireFault("SetupDiSetClassInstallParamsW", index, -1,
                                       whole ? static_cast<std::int64_t>(params->StateChange) : -1)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, handle, deviceInfo) < 0) {
        return FALSE;
    }
    if (params == nullptr || params->ClassInstallHeader.cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
        params->ClassInstallHeader.InstallFunction != DIF_PROPERTYCHANGE ||
        classInstallParamsSize != sizeof(SP_PROPCHANGE_PARAMS)) {
        return Fail(call, ERROR_INVALID_PARAMETER);
    }
    Member& member = FindSet(handle)->Members[static_cast<std::size_t>(index)];
    member.HasParams = true;
    member.Params = *params;
    return Succeed(call);
}

BOOL SetupDiCallClassInstaller(UINT installFunction, HDEVINFO handle, SP_DEVINFO_DATA* deviceInfo)
{
    DeviceSet* set = FindSet(handle);
    std::int64_t index = MemberIndex(set, deviceInfo);
    const Member* member = index >= 0 ? &set->Members[static_cast<std::size_t>(index)] : nullptr;
    std::int64_t stateChange = member != nullptr && member->HasParams ? member->Params.StateChange : -1;
    Call& call = Record("SetupDiCallClassInstaller",
                        {{"function", Hex(installFunction)},
                         {"index", index < 0 ? "invalid" : Decimal(static_cast<std::uint64_t>(index))},
                         {"stateChange", stateChange < 0 ? "none" : Decimal(static_cast<std::uint64_t>(stateChange))},
                         {"scope", member != nullptr && member->HasParams ? Decimal(member->Params.Scope) : "none"}});
    if (const Fault* fault = FireFault("SetupDiCallClassInstaller", index, -1, stateChange)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, handle, deviceInfo) < 0) {
        return FALSE;
    }
    if (installFunction != DIF_PROPERTYCHANGE) {
        return Fail(call, ERROR_INVALID_PARAMETER);
    }
    Member& stored = set->Members[static_cast<std::size_t>(index)];
    if (!stored.HasParams) {
        return Fail(call, ERROR_NO_CLASSINSTALL_PARAMS);
    }
    return ApplyStateChange(call, Sim().machine.Devices[static_cast<std::size_t>(index)], stored);
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO handle, SP_DEVINFO_DATA* deviceInfo,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams)
{
    std::int64_t index = MemberIndex(FindSet(handle), deviceInfo);
    Call& call = Record("SetupDiGetDeviceInstallParamsW",
                        {{"index", index < 0 ? "invalid" : Decimal(static_cast<std::uint64_t>(index))},
                         {"cbSize", deviceInstallParams != nullptr ? Decimal(deviceInstallParams->cbSize) : "null"}});
    if (const Fault* fault = FireFault("SetupDiGetDeviceInstallParamsW", index)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, handle, deviceInfo) < 0) {
        return FALSE;
    }
    if (deviceInstallParams == nullptr || deviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
        return Fail(call, ERROR_INVALID_USER_BUFFER);
    }
    const Member& member = FindSet(handle)->Members[static_cast<std::size_t>(index)];
    *deviceInstallParams = SP_DEVINSTALL_PARAMS_W{};
    deviceInstallParams->cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
    deviceInstallParams->Flags = member.InstallFlags;
    call.Results.push_back({"flags", Hex(member.InstallFlags)});
    return Succeed(call);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    Call& call = Record("SetupDiDestroyDeviceInfoList", {{"set", Hex(reinterpret_cast<std::uintptr_t>(handle))}});
    std::vector<DeviceSet>& sets = Sim().sets;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (reinterpret_cast<HDEVINFO>(sets[i].Id) == handle) {
            // The set is released even when the call is made to report failure.
            sets.erase(sets.begin() + static_cast<std::ptrdiff_t>(i));
            if (const Fault* fault = FireFault("SetupDiDestroyDeviceInfoList")) {
                return Fail(call, fault->Error);
            }
            return Succeed(call);
        }
    }
    return Fail(call, ERROR_INVALID_HANDLE);
}

LSTATUS RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    std::u16string path = ReadText(subKey);
    Call& call = Record("RegOpenKeyExW", {{"root", KeyName(key)},
                                          {"path", subKey != nullptr ? Quoted(path) : "null"},
                                          {"options", Decimal(options)},
                                          {"access", Hex(samDesired)}});
    auto answer = [&call](LSTATUS status) {
        call.Results.insert(call.Results.begin(), {"result", Decimal(static_cast<DWORD>(status))});
        return status;
    };
    if (const Fault* fault = FireFault("RegOpenKeyExW")) {
        return answer(static_cast<LSTATUS>(fault->Error));
    }
    if (key != HKEY_LOCAL_MACHINE || result == nullptr) {
        return answer(static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    }
    if (options != 0) {
        return answer(static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    }
    std::size_t index = 0;
    Key* found = FindKey(path, &index);
    if (found == nullptr) {
        return answer(static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    }
    if (found->DenyFullAccess && (samDesired & KEY_ALL_ACCESS & ~0x20019u) != 0) {
        return answer(static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    }
    OpenKey open;
    open.Id = KEY_HANDLE_BASE + Sim().nextHandle++;
    open.KeyIndex = index;
    Sim().keys.push_back(open);
    *result = reinterpret_cast<HKEY>(open.Id);
    call.Results.push_back({"key", Hex(open.Id)});
    return answer(static_cast<LSTATUS>(ERROR_SUCCESS));
}

LSTATUS RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize)
{
    std::u16string name = ReadText(valueName);
    Call& call = Record("RegSetValueExW", {{"key", KeyName(key)},
                                           {"name", Quoted(name)},
                                           {"reserved", Decimal(reserved)},
                                           {"type", Decimal(type)},
                                           {"data", data != nullptr ? "\"" + HexBytes(data, dataSize) + "\"" : "null"},
                                           {"size", Decimal(dataSize)}});
    auto answer = [&call](DWORD status) {
        call.Results = {{"result", Decimal(status)}};
        return static_cast<LSTATUS>(status);
    };
    if (const Fault* fault = FireFault("RegSetValueExW")) {
        return answer(fault->Error);
    }
    OpenKey* open = FindOpenKey(key);
    if (open == nullptr) {
        return answer(ERROR_INVALID_HANDLE);
    }
    if (reserved != 0 || (data == nullptr && dataSize != 0)) {
        return answer(ERROR_INVALID_PARAMETER);
    }
    // A text whose size leaves out its terminating zero gets it counted in
    // when the code unit just past the size is zero, as the registry does;
    // that unit is read from the caller's memory.
    DWORD stored = dataSize;
    bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (text && data != nullptr && dataSize >= sizeof(WCHAR)) {
        WCHAR last = 0;
        WCHAR next = 0;
        std::memcpy(&last, data + (dataSize / sizeof(WCHAR) - 1) * sizeof(WCHAR), sizeof(WCHAR));
        std::memcpy(&next, data + (dataSize / sizeof(WCHAR)) * sizeof(WCHAR), sizeof(WCHAR));
        if (last != 0 && next == 0) {
            stored += sizeof(WCHAR);
        }
    }
    Value value;
    value.Type = type;
    value.Data.assign(data, data + stored);
    auto& values = Sim().machine.Registry[open->KeyIndex].Values;
    bool replaced = false;
    for (auto& existing : values) {
        if (!replaced && SameRegistryName(existing.first, name)) {
            existing.second = value;
            replaced = true;
        }
    }
    if (!replaced) {
        values.emplace_back(name, value);
    }
    LSTATUS status = answer(ERROR_SUCCESS);
    call.Results.push_back({"stored", Decimal(stored)});
    return status;
}

LSTATUS RegDeleteValueW(HKEY key, const WCHAR* valueName)
{
    std::u16string name = ReadText(valueName);
    Call& call = Record("RegDeleteValueW", {{"key", KeyName(key)}, {"name", Quoted(name)}});
    auto answer = [&call](DWORD status) {
        call.Results = {{"result", Decimal(status)}};
        return static_cast<LSTATUS>(status);
    };
    if (const Fault* fault = FireFault("RegDeleteValueW")) {
        return answer(fault->Error);
    }
    OpenKey* open = FindOpenKey(key);
    if (open == nullptr) {
        return answer(ERROR_INVALID_HANDLE);
    }
    auto& values = Sim().machine.Registry[open->KeyIndex].Values;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (SameRegistryName(values[i].first, name)) {
            values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
            return answer(ERROR_SUCCESS);
        }
    }
    return answer(ERROR_FILE_NOT_FOUND);
}

LSTATUS RegCloseKey(HKEY key)
{
    Call& call = Record("RegCloseKey", {{"key", KeyName(key)}});
    std::vector<OpenKey>& keys = Sim().keys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (reinterpret_cast<HKEY>(keys[i].Id) == key) {
            keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(i));
            DWORD status = ERROR_SUCCESS;
            if (const Fault* fault = FireFault("RegCloseKey")) {
                status = fault->Error; // the handle is gone all the same
            }
            call.Results = {{"result", Decimal(status)}};
            return static_cast<LSTATUS>(status);
        }
    }
    call.Results = {{"result", Decimal(ERROR_INVALID_HANDLE)}};
    return static_cast<LSTATUS>(ERROR_INVALID_HANDLE);
}

WCHAR* lstrcpynW(WCHAR* destination, const WCHAR* source, int maxLength)
{
    // Copies at most maxLength - 1 code units, stopping at the terminator,
    // and always terminates a destination of non-zero length.
    int copied = 0;
    if (maxLength > 0) {
        while (copied < maxLength - 1 && source[copied] != 0) {
            destination[copied] = source[copied];
            ++copied;
        }
        destination[copied] = 0;
    }
    Call& call = Record("lstrcpynW", {{"max", std::to_string(maxLength)}});
    call.Results = {
        {"text", maxLength > 0 ? Quoted(std::u16string(destination, static_cast<std::size_t>(copied))) : "none"}};
    return destination;
}

int lstrcmpW(const WCHAR* first, const WCHAR* second)
{
    // A plain comparison code unit by code unit; for texts of ASCII letters
    // it agrees with the platform's linguistic one.
    std::u16string a = ReadText(first);
    std::u16string b = ReadText(second);
    int result = a == b ? 0 : a < b ? -1 : 1;
    Call& call = Record("lstrcmpW", {{"first", Quoted(a)}, {"second", Quoted(b)}});
    call.Results = {{"result", std::to_string(result)}};
    return result;
}

WCHAR* lstrcatW(WCHAR* destination, const WCHAR* source)
{
    std::u16string appended = ReadText(source);
    std::size_t length = std::char_traits<WCHAR>::length(destination);
    std::memcpy(destination + length, appended.c_str(), (appended.size() + 1) * sizeof(WCHAR));
    Call& call = Record("lstrcatW", {{"source", Quoted(appended)}});
    call.Results = {{"length", Decimal(length + appended.size())}};
    return destination;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    Call& call = Record("LocalAlloc", {{"flags", Hex(flags)}, {"bytes", Decimal(bytes)}});
    State& sim = Sim();
    if (const Fault* fault = FireFault("LocalAlloc")) {
        sim.lastError = fault->Error;
        call.Results = {{"block", "null"}, {"error", Decimal(fault->Error)}};
        return nullptr;
    }
    if (flags != LPTR || bytes > 0x7FFFFFFF) {
        sim.lastError = flags != LPTR ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY;
        call.Results = {{"block", "null"}, {"error", Decimal(sim.lastError)}};
        return nullptr;
    }
    // Exactly the bytes asked for, zero-filled, so that a read past the end
    // is caught by the sanitizers and memory checkers.
    std::unique_ptr<BYTE[]> block(new BYTE[bytes]());
    void* address = block.get();
    sim.blocks[address] = std::move(block);
    sim.blockSizes[address] = bytes;
    call.Results = {{"block", "ok"}};
    return address;
}

HLOCAL LocalFree(HLOCAL memory)
{
    Call& call = Record("LocalFree", {{"block", BlockName(memory)}});
    State& sim = Sim();
    if (const Fault* fault = FireFault("LocalFree")) {
        sim.lastError = fault->Error;
        call.Results = {{"result", "failed"}, {"error", Decimal(fault->Error)}};
        return memory;
    }
    auto found = sim.blocks.find(memory);
    if (found == sim.blocks.end()) {
        sim.lastError = ERROR_INVALID_HANDLE;
        call.Results = {{"result", "failed"}, {"error", Decimal(ERROR_INVALID_HANDLE)}};
        return memory;
    }
    sim.blocks.erase(found);
    sim.blockSizes.erase(memory);
    call.Results = {{"result", "freed"}};
    return nullptr;
}

DWORD GetLastError()
{
    DWORD error = Sim().lastError;
    Record("GetLastError", {}).Results = {{"error", Decimal(error)}};
    return error;
}

void WriteStandardOutput(const char* text, SIZE_T length)
{
    State& sim = Sim();
    sim.output.append(text, length);
    if (sim.echo) {
        std::fwrite(text, 1, length, stdout);
        std::fflush(stdout);
    }
    Record("Output", {{"text", Quoted(Utf8ToUtf16(std::string(text, length)))}});
}

} // namespace platform
