// The Windows backend: every operation passes straight through to SetupAPI,
// the Configuration Manager, the registry and kernel32. The only work done
// here is converting between the boundary's types and the SDK's, which have
// the same sizes and layouts (checked below) but other names.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstddef>

// The SDK's values, captured before its macros are set aside so that the
// boundary's constants of the same names can be declared.
namespace sdk {
constexpr DWORD digcfPresent = DIGCF_PRESENT;
constexpr DWORD digcfAllClasses = DIGCF_ALLCLASSES;
constexpr DWORD spdrpDeviceDesc = SPDRP_DEVICEDESC;
constexpr DWORD spdrpClass = SPDRP_CLASS;
constexpr DWORD spdrpDriver = SPDRP_DRIVER;
constexpr DWORD spdrpEnumeratorName = SPDRP_ENUMERATOR_NAME;
constexpr DWORD dnHasProblem = DN_HAS_PROBLEM;
constexpr DWORD dnDisableable = DN_DISABLEABLE;
constexpr DWORD cmProbDisabled = CM_PROB_DISABLED;
constexpr DWORD cmProbHardwareDisabled = CM_PROB_HARDWARE_DISABLED;
constexpr DWORD difPropertyChange = DIF_PROPERTYCHANGE;
constexpr DWORD dicsEnable = DICS_ENABLE;
constexpr DWORD dicsDisable = DICS_DISABLE;
constexpr DWORD dicsFlagGlobal = DICS_FLAG_GLOBAL;
constexpr DWORD dicsFlagConfigSpecific = DICS_FLAG_CONFIGSPECIFIC;
constexpr DWORD diNeedRestart = DI_NEEDRESTART;
constexpr DWORD diNeedReboot = DI_NEEDREBOOT;
constexpr DWORD keyAllAccess = KEY_ALL_ACCESS;
constexpr DWORD regSz = REG_SZ;
constexpr UINT lptr = LPTR;
constexpr DWORD errorSuccess = ERROR_SUCCESS;
constexpr DWORD errorInvalidData = ERROR_INVALID_DATA;
constexpr DWORD errorInsufficientBuffer = ERROR_INSUFFICIENT_BUFFER;
constexpr DWORD crSuccess = CR_SUCCESS;
constexpr int maxPath = MAX_PATH;
} // namespace sdk

#include "platform/win/sdk_macros_aside.h"

#include "platform/win/win_console.h"
#include "platform/win/windows_operations.h"

// The boundary's records have the SDK's layouts.
static_assert(sizeof(platform::SP_DEVINFO_DATA) == sizeof(::SP_DEVINFO_DATA), "SP_DEVINFO_DATA");
static_assert(offsetof(platform::SP_DEVINFO_DATA, DevInst) == offsetof(::SP_DEVINFO_DATA, DevInst), "DevInst");
static_assert(offsetof(platform::SP_DEVINFO_DATA, Reserved) == offsetof(::SP_DEVINFO_DATA, Reserved), "Reserved");
static_assert(sizeof(platform::SP_DEVINSTALL_PARAMS_W) == sizeof(::SP_DEVINSTALL_PARAMS_W), "SP_DEVINSTALL_PARAMS_W");
static_assert(offsetof(platform::SP_DEVINSTALL_PARAMS_W, Flags) == offsetof(::SP_DEVINSTALL_PARAMS_W, Flags), "Flags");
static_assert(offsetof(platform::SP_DEVINSTALL_PARAMS_W, DriverPath) == offsetof(::SP_DEVINSTALL_PARAMS_W, DriverPath),
              "DriverPath");
static_assert(sizeof(platform::SP_PROPCHANGE_PARAMS) == sizeof(::SP_PROPCHANGE_PARAMS), "SP_PROPCHANGE_PARAMS");
static_assert(offsetof(platform::SP_PROPCHANGE_PARAMS, StateChange) == offsetof(::SP_PROPCHANGE_PARAMS, StateChange),
              "StateChange");
static_assert(sizeof(platform::SP_CLASSINSTALL_HEADER) == sizeof(::SP_CLASSINSTALL_HEADER), "SP_CLASSINSTALL_HEADER");
static_assert(sizeof(platform::GUID) == sizeof(::GUID), "GUID");
static_assert(sizeof(platform::WCHAR) == sizeof(::WCHAR), "WCHAR");
static_assert(sizeof(platform::DWORD) == sizeof(::DWORD) && sizeof(platform::LONG) == sizeof(::LONG), "DWORD");
// The sizes the platform documents for each layout.
#if defined(_WIN64)
static_assert(sizeof(::SP_DEVINFO_DATA) == 32 && sizeof(::SP_DEVINSTALL_PARAMS_W) == 584, "x86-64 layout");
#else
static_assert(sizeof(::SP_DEVINFO_DATA) == 28 && sizeof(::SP_DEVINSTALL_PARAMS_W) == 556, "x86 layout");
#endif
static_assert(sizeof(::SP_PROPCHANGE_PARAMS) == 20 && sizeof(::SP_CLASSINSTALL_HEADER) == 8, "property change");

// The boundary's constants have the SDK's values.
static_assert(platform::DIGCF_PRESENT == sdk::digcfPresent && platform::DIGCF_ALLCLASSES == sdk::digcfAllClasses, "");
static_assert(platform::SPDRP_DEVICEDESC == sdk::spdrpDeviceDesc && platform::SPDRP_CLASS == sdk::spdrpClass &&
                  platform::SPDRP_DRIVER == sdk::spdrpDriver &&
                  platform::SPDRP_ENUMERATOR_NAME == sdk::spdrpEnumeratorName,
              "");
static_assert(platform::DN_HAS_PROBLEM == sdk::dnHasProblem && platform::DN_DISABLEABLE == sdk::dnDisableable, "");
static_assert(platform::CM_PROB_DISABLED == sdk::cmProbDisabled &&
                  platform::CM_PROB_HARDWARE_DISABLED == sdk::cmProbHardwareDisabled,
              "");
static_assert(platform::DIF_PROPERTYCHANGE == sdk::difPropertyChange && platform::DICS_ENABLE == sdk::dicsEnable &&
                  platform::DICS_DISABLE == sdk::dicsDisable && platform::DICS_FLAG_GLOBAL == sdk::dicsFlagGlobal &&
                  platform::DICS_FLAG_CONFIGSPECIFIC == sdk::dicsFlagConfigSpecific,
              "");
static_assert(platform::DI_NEEDRESTART == sdk::diNeedRestart && platform::DI_NEEDREBOOT == sdk::diNeedReboot, "");
static_assert(platform::KEY_ALL_ACCESS == sdk::keyAllAccess && platform::REG_SZ == sdk::regSz, "");
static_assert(platform::LPTR == sdk::lptr && platform::MAX_PATH == sdk::maxPath, "");
static_assert(platform::ERROR_SUCCESS == sdk::errorSuccess && platform::ERROR_INVALID_DATA == sdk::errorInvalidData &&
                  platform::ERROR_INSUFFICIENT_BUFFER == sdk::errorInsufficientBuffer &&
                  platform::CR_SUCCESS == sdk::crSuccess,
              "");

namespace platform {
namespace windows {

namespace {

::WCHAR* Wide(WCHAR* text)
{
    return reinterpret_cast<::WCHAR*>(text);
}

const ::WCHAR* Wide(const WCHAR* text)
{
    return reinterpret_cast<const ::WCHAR*>(text);
}

::SP_DEVINFO_DATA* Record(SP_DEVINFO_DATA* deviceInfo)
{
    return reinterpret_cast<::SP_DEVINFO_DATA*>(deviceInfo);
}

::HKEY Key(HKEY key)
{
    return reinterpret_cast<::HKEY>(key);
}

} // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent, DWORD flags)
{
    return ::SetupDiGetClassDevsW(reinterpret_cast<const ::GUID*>(classGuid), Wide(enumerator),
                                  static_cast<::HWND>(parent), flags);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfo)
{
    return ::SetupDiEnumDeviceInfo(set, memberIndex, Record(deviceInfo));
}

CONFIGRET CM_Get_DevNode_Status(DWORD* status, DWORD* problemNumber, DEVINST devInst, DWORD flags)
{
    ::ULONG statusFlags = 0;
    ::ULONG problem = 0;
    CONFIGRET result = ::CM_Get_DevNode_Status(&statusFlags, &problem, devInst, flags);
    *status = statusFlags;
    *problemNumber = problem;
    return result;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize)
{
    ::DWORD type = propertyRegDataType != nullptr ? *propertyRegDataType : 0;
    ::DWORD required = requiredSize != nullptr ? *requiredSize : 0;
    BOOL result = ::SetupDiGetDeviceRegistryPropertyW(
        set, Record(deviceInfo), property, propertyRegDataType != nullptr ? &type : nullptr, propertyBuffer,
        propertyBufferSize, requiredSize != nullptr ? &required : nullptr);
    ::DWORD error = ::GetLastError(); // kept across the copies below
    if (propertyRegDataType != nullptr) {
        *propertyRegDataType = type;
    }
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    ::SetLastError(error);
    return result;
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                   SP_CLASSINSTALL_HEADER* classInstallParams, DWORD classInstallParamsSize)
{
    return ::SetupDiSetClassInstallParamsW(set, Record(deviceInfo),
                                           reinterpret_cast<::SP_CLASSINSTALL_HEADER*>(classInstallParams),
                                           classInstallParamsSize);
}

BOOL SetupDiCallClassInstaller(UINT installFunction, HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    return ::SetupDiCallClassInstaller(installFunction, set, Record(deviceInfo));
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams)
{
    return ::SetupDiGetDeviceInstallParamsW(set, Record(deviceInfo),
                                            reinterpret_cast<::SP_DEVINSTALL_PARAMS_W*>(deviceInstallParams));
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return ::SetupDiDestroyDeviceInfoList(set);
}

LSTATUS RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    ::HKEY opened = nullptr;
    LSTATUS status = ::RegOpenKeyExW(Key(key), Wide(subKey), options, samDesired, &opened);
    if (status == 0) {
        *result = reinterpret_cast<HKEY>(opened);
    }
    return status;
}

LSTATUS RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize)
{
    return ::RegSetValueExW(Key(key), Wide(valueName), reserved, type, data, dataSize);
}

LSTATUS RegDeleteValueW(HKEY key, const WCHAR* valueName)
{
    return ::RegDeleteValueW(Key(key), Wide(valueName));
}

LSTATUS RegCloseKey(HKEY key)
{
    return ::RegCloseKey(Key(key));
}

WCHAR* lstrcpynW(WCHAR* destination, const WCHAR* source, int maxLength)
{
    return reinterpret_cast<WCHAR*>(::lstrcpynW(Wide(destination), Wide(source), maxLength));
}

int lstrcmpW(const WCHAR* first, const WCHAR* second)
{
    return ::lstrcmpW(Wide(first), Wide(second));
}

WCHAR* lstrcatW(WCHAR* destination, const WCHAR* source)
{
    return reinterpret_cast<WCHAR*>(::lstrcatW(Wide(destination), Wide(source)));
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    return ::LocalAlloc(flags, bytes);
}

HLOCAL LocalFree(HLOCAL memory)
{
    return ::LocalFree(memory);
}

DWORD GetLastError()
{
    return ::GetLastError();
}

void WriteStandardOutput(const char* text, SIZE_T length)
{
    (void)winconsole::WriteOutput(text, length); // the tool answers nothing by its output
}

} // namespace windows

const Operations& WindowsOperations()
{
#define TESSARY_BACKEND windows
#include "platform/backend_tables.inc"
#undef TESSARY_BACKEND
}

} // namespace platform
