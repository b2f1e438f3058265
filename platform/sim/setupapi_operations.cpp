// The device-installation operations (SetupAPI and the Configuration
// Manager) over the simulated machine.
#include <cstring>

#include "platform/inspection.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/fault_matching.h"
#include "platform/sim/simulated_operations.h"
#include "platform/sim/state.h"

using namespace simulator;

namespace platform {
namespace simulated {

namespace {

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
    if (device.OnStateChange == Reaction::Stuck && params.StateChange == DICS_ENABLE) {
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

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent, DWORD flags)
{
    Recorder call(Operation::SetupDiGetClassDevsW, [&] {
        return Fields{{"class", classGuid != nullptr ? "given" : "null"},
                      {"enumerator", enumerator != nullptr ? QuoteText(ReadText(enumerator)) : "null"},
                      {"parent", parent != nullptr ? "given" : "null"},
                      {"flags", Hex(flags)}};
    });
    if (const Fault* fault = FireFault(Operation::SetupDiGetClassDevsW)) {
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
    set.Id = SET_HANDLE_BASE + sim.NextHandle++;
    set.Members.resize(sim.Installed.Devices.size());
    sim.Sets.push_back(set);
    call.Results([&] { return Fields{{"set", Hex(set.Id)}, {"members", Decimal(set.Members.size())}}; });
    Succeed(call);
    return reinterpret_cast<HDEVINFO>(set.Id);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfo)
{
    Recorder call(Operation::SetupDiEnumDeviceInfo, [&] {
        return Fields{{"index", Decimal(memberIndex)},
                      {"cbSize", deviceInfo != nullptr ? Decimal(deviceInfo->cbSize) : "null"}};
    });
    if (const Fault* fault = FireFault(Operation::SetupDiEnumDeviceInfo, memberIndex)) {
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
    Recorder call(Operation::CM_Get_DevNode_Status, [&] {
        return Fields{{"index", IndexText(index)}, {"flags", Decimal(flags)}};
    });
    std::vector<Device>& devices = Sim().Installed.Devices;
    CONFIGRET result = CR_SUCCESS;
    if (const Fault* fault = FireFault(Operation::CM_Get_DevNode_Status, index)) {
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
    Recorder call(Operation::SetupDiGetDeviceRegistryPropertyW, [&] {
        return Fields{{"index", IndexText(index)},
                      {"property", Decimal(property)},
                      {"size", Decimal(propertyBufferSize)},
                      {"block", BlockName(propertyBuffer)}};
    });
    // Writing past the block would corrupt the caller's memory; note the
    // misuse and keep to the block's real size.
    DWORD room = propertyBufferSize;
    auto known = sim.Blocks.find(propertyBuffer);
    if (known != sim.Blocks.end() && propertyBufferSize > known->second.Size) {
        sim.Violations.push_back("property read passed " + Decimal(propertyBufferSize) + " bytes for a block of " +
                                 Decimal(known->second.Size));
        room = static_cast<DWORD>(known->second.Size);
    }
    if (const Fault* fault = FireFault(Operation::SetupDiGetDeviceRegistryPropertyW, index, property)) {
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
    const Device& device = sim.Installed.Devices[static_cast<std::size_t>(index)];
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
    Recorder call(Operation::SetupDiSetClassInstallParamsW, [&] {
        return Fields{{"index", IndexText(index)},
                      {"header", params != nullptr ? Decimal(params->ClassInstallHeader.cbSize) : "null"},
                      {"function", params != nullptr ? Hex(params->ClassInstallHeader.InstallFunction) : "null"},
                      {"stateChange", whole ? Decimal(params->StateChange) : "none"},
                      {"scope", whole ? Decimal(params->Scope) : "none"},
                      {"profile", whole ? Decimal(params->HwProfile) : "none"},
                      {"size", Decimal(classInstallParamsSize)}};
    });
    if (const Fault* fault = FireFault(Operation::SetupDiSetClassInstallParamsW, index, -1,
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
    Recorder call(Operation::SetupDiCallClassInstaller, [&] {
        return Fields{{"function", Hex(installFunction)},
                      {"index", IndexText(index)},
                      {"stateChange", stateChange < 0 ? "none" : Decimal(static_cast<std::uint64_t>(stateChange))},
                      {"scope", member != nullptr && member->HasParams ? Decimal(member->Params.Scope) : "none"}};
    });
    const Fault* fault = FireFault(Operation::SetupDiCallClassInstaller, index, -1, stateChange);
    BOOL done = [&] {
        if (fault != nullptr) {
            return Fail(call, fault->Error);
        }
        if (CheckMember(call, set, deviceInfo) < 0) {
            return FALSE;
        }
        if (installFunction != DIF_PROPERTYCHANGE) {
            return Fail(call, ERROR_INVALID_PARAMETER);
        }
        if (!Sim().Installed.Elevated) {
            return Fail(call, ERROR_ACCESS_DENIED); // changing a device's state needs an administrator
        }
        Member& stored = found->Members[static_cast<std::size_t>(index)];
        if (!stored.HasParams) {
            return Fail(call, ERROR_NO_CLASSINSTALL_PARAMS);
        }
        return ApplyStateChange(call, Sim().Installed.Devices[static_cast<std::size_t>(index)], stored);
    }();
    if (index >= 0) {
        Sim().StateChanges.push_back({static_cast<std::size_t>(index), stateChange, done != FALSE});
    }
    return done;
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams)
{
    std::int64_t index = MemberIndex(FindSet(set), deviceInfo);
    Recorder call(Operation::SetupDiGetDeviceInstallParamsW, [&] {
        return Fields{{"index", IndexText(index)},
                      {"cbSize", deviceInstallParams != nullptr ? Decimal(deviceInstallParams->cbSize) : "null"}};
    });
    if (const Fault* fault = FireFault(Operation::SetupDiGetDeviceInstallParamsW, index)) {
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
    Recorder call(Operation::SetupDiDestroyDeviceInfoList, [&] {
        return Fields{{"set", Hex(reinterpret_cast<std::uintptr_t>(set))}};
    });
    std::vector<DeviceSet>& sets = Sim().Sets;
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (reinterpret_cast<HDEVINFO>(sets[i].Id) == set) {
            // A kill stops the run before the set is released; a failure is
            // answered with the set released all the same.
            const Fault* fault = FireFault(Operation::SetupDiDestroyDeviceInfoList);
            sets.erase(sets.begin() + static_cast<std::ptrdiff_t>(i));
            return fault != nullptr ? Fail(call, fault->Error) : Succeed(call);
        }
    }
    return Fail(call, ERROR_INVALID_HANDLE);
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, WCHAR* id, DWORD idSize,
                                 DWORD* requiredSize)
{
    std::int64_t index = MemberIndex(FindSet(set), deviceInfo);
    Recorder call(Operation::SetupDiGetDeviceInstanceIdW, [&] {
        return Fields{{"index", IndexText(index)}, {"size", Decimal(idSize)}};
    });
    if (const Fault* fault = FireFault(Operation::SetupDiGetDeviceInstanceIdW, index)) {
        return Fail(call, fault->Error);
    }
    if (CheckMember(call, set, deviceInfo) < 0) {
        return FALSE;
    }
    const Device& device = Sim().Installed.Devices[static_cast<std::size_t>(index)];
    std::u16string text =
        device.InstanceId.empty() ? DefaultInstanceId(static_cast<std::size_t>(index)) : device.InstanceId;
    auto units = static_cast<DWORD>(text.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = units;
    }
    if (id == nullptr || idSize < units) {
        return Fail(call, ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(text.begin(), text.end(), id);
    id[text.size()] = 0;
    call.Add("id", [&] { return QuoteText(text); });
    return Succeed(call);
}

} // namespace simulated
} // namespace platform
