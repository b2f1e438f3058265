#include "deploy/observer.h"

#include <map>

#include "platform/inspection.h"

// The backend under this layer, declared under its own name.
#define TESSARY_PLATFORM_OPERATIONS namespace TESSARY_OBSERVED_ABI
#include "platform/inspection_operations.inc"
#include "platform/operations.inc"
#undef TESSARY_PLATFORM_OPERATIONS

namespace {

namespace under = platform::TESSARY_OBSERVED_ABI;
using namespace platform;

constexpr DWORD ERROR_NO_MORE_ITEMS = 259;

struct Notes {
    bool Recording = false;
    bool Passing = false;
    std::vector<observer::FailedCall> Failed;
    std::vector<observer::StateChange> Changes;
    std::map<DEVINST, DWORD> Stored; // the state change last stored for a device
    bool RestartRequested = false;
    std::string Output;
};

Notes& Seen()
{
    static Notes notes;
    return notes;
}

// Notes a failure that leaves its error as the last error, which stays as it was.
void FailedWithLastError(const char* operation)
{
    if (Seen().Recording) {
        Seen().Failed.push_back({operation, under::GetLastError(), false});
    }
}

template <class Code> Code Returned(const char* operation, Code code, bool configuration = false)
{
    if (code != 0 && Seen().Recording) {
        Seen().Failed.push_back({operation, static_cast<DWORD>(code), configuration});
    }
    return code;
}

} // namespace

namespace observer {

void Reset()
{
    Seen() = Notes{};
}

void Record(bool on)
{
    Seen().Recording = on;
}

const std::vector<FailedCall>& FailedCalls()
{
    return Seen().Failed;
}

const std::vector<StateChange>& StateChanges()
{
    return Seen().Changes;
}

bool RestartRequested()
{
    return Seen().RestartRequested;
}

void PassOutput(bool on)
{
    Seen().Passing = on;
}

const std::string& Output()
{
    return Seen().Output;
}

} // namespace observer

namespace platform {
inline namespace TESSARY_PLATFORM_ABI {

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent, DWORD flags)
{
    HDEVINFO set = under::SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
    if (set == INVALID_HANDLE_VALUE) {
        FailedWithLastError("SetupDiGetClassDevsW");
    }
    return set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfo)
{
    BOOL found = under::SetupDiEnumDeviceInfo(set, memberIndex, deviceInfo);
    if (!found && under::GetLastError() != ERROR_NO_MORE_ITEMS) {
        FailedWithLastError("SetupDiEnumDeviceInfo");
    }
    return found;
}

CONFIGRET CM_Get_DevNode_Status(DWORD* status, DWORD* problemNumber, DEVINST devInst, DWORD flags)
{
    return Returned("CM_Get_DevNode_Status", under::CM_Get_DevNode_Status(status, problemNumber, devInst, flags), true);
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize)
{
    return under::SetupDiGetDeviceRegistryPropertyW(set, deviceInfo, property, propertyRegDataType, propertyBuffer,
                                                    propertyBufferSize, requiredSize);
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                   SP_CLASSINSTALL_HEADER* classInstallParams, DWORD classInstallParamsSize)
{
    BOOL stored = under::SetupDiSetClassInstallParamsW(set, deviceInfo, classInstallParams, classInstallParamsSize);
    if (!stored) {
        FailedWithLastError("SetupDiSetClassInstallParamsW");
    } else if (deviceInfo != nullptr && classInstallParamsSize >= sizeof(SP_PROPCHANGE_PARAMS)) {
        Seen().Stored[deviceInfo->DevInst] =
            reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(classInstallParams)->StateChange;
    }
    return stored;
}

BOOL SetupDiCallClassInstaller(UINT installFunction, HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    BOOL done = under::SetupDiCallClassInstaller(installFunction, set, deviceInfo);
    if (!done) {
        FailedWithLastError("SetupDiCallClassInstaller");
    }
    Notes& notes = Seen();
    if (notes.Recording && deviceInfo != nullptr && notes.Stored.count(deviceInfo->DevInst) != 0) {
        notes.Changes.push_back({deviceInfo->DevInst, notes.Stored[deviceInfo->DevInst], done != FALSE});
    }
    return done;
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams)
{
    BOOL read = under::SetupDiGetDeviceInstallParamsW(set, deviceInfo, deviceInstallParams);
    if (!read) {
        FailedWithLastError("SetupDiGetDeviceInstallParamsW");
    } else if (Seen().Recording && (deviceInstallParams->Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
        Seen().RestartRequested = true;
    }
    return read;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    BOOL destroyed = under::SetupDiDestroyDeviceInfoList(set);
    if (!destroyed) {
        FailedWithLastError("SetupDiDestroyDeviceInfoList");
    }
    return destroyed;
}

LSTATUS RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    return Returned("RegOpenKeyExW", under::RegOpenKeyExW(key, subKey, options, samDesired, result));
}

LSTATUS RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize)
{
    return Returned("RegSetValueExW", under::RegSetValueExW(key, valueName, reserved, type, data, dataSize));
}

LSTATUS RegDeleteValueW(HKEY key, const WCHAR* valueName)
{
    return Returned("RegDeleteValueW", under::RegDeleteValueW(key, valueName));
}

LSTATUS RegCloseKey(HKEY key)
{
    return Returned("RegCloseKey", under::RegCloseKey(key));
}

WCHAR* lstrcpynW(WCHAR* destination, const WCHAR* source, int maxLength)
{
    return under::lstrcpynW(destination, source, maxLength);
}

int lstrcmpW(const WCHAR* first, const WCHAR* second)
{
    return under::lstrcmpW(first, second);
}

WCHAR* lstrcatW(WCHAR* destination, const WCHAR* source)
{
    return under::lstrcatW(destination, source);
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL block = under::LocalAlloc(flags, bytes);
    if (block == nullptr) {
        FailedWithLastError("LocalAlloc");
    }
    return block;
}

HLOCAL LocalFree(HLOCAL memory)
{
    HLOCAL left = under::LocalFree(memory);
    if (left != nullptr) {
        FailedWithLastError("LocalFree");
    }
    return left;
}

DWORD GetLastError()
{
    return under::GetLastError();
}

void WriteStandardOutput(const char* text, SIZE_T length)
{
    Seen().Output.append(text, length);
    if (Seen().Passing) {
        under::WriteStandardOutput(text, length);
    }
}

LSTATUS RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize)
{
    return under::RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
}

LSTATUS CheckKeyAccess(HKEY root, const WCHAR* subKey, REGSAM access, BOOL* granted)
{
    return under::CheckKeyAccess(root, subKey, access, granted);
}

BOOL IsProcessElevated()
{
    return under::IsProcessElevated();
}

void SetLastError(DWORD error)
{
    under::SetLastError(error);
}

} // namespace TESSARY_PLATFORM_ABI
} // namespace platform
