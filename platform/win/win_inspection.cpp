// The Windows backend of inspection.h: the registry, the device's instance
// ID and the last error pass straight through; the two questions about
// access are answered with the process's token, never by opening a key for
// writing.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <memory>
#include <type_traits>
#include <vector>

// The SDK's values of the macros set aside below.
namespace sdk {
constexpr DWORD keyRead = KEY_READ;
constexpr DWORD dnNeedRestart = DN_NEED_RESTART;
constexpr DWORD keyAllAccess = KEY_ALL_ACCESS;
constexpr DWORD errorFileNotFound = ERROR_FILE_NOT_FOUND;
constexpr DWORD errorMoreData = ERROR_MORE_DATA;
constexpr DWORD errorNoMoreItems = ERROR_NO_MORE_ITEMS;
constexpr DWORD keySetValue = KEY_SET_VALUE;
constexpr DWORD keyQueryValue = KEY_QUERY_VALUE;
constexpr DWORD regOptionNonVolatile = REG_OPTION_NON_VOLATILE;
constexpr DWORD regMultiSz = REG_MULTI_SZ;
} // namespace sdk

#include "platform/win/sdk_macros_aside.h"

#include "platform/win/windows_operations.h"

static_assert(platform::KEY_READ == sdk::keyRead && platform::DN_NEED_RESTART == sdk::dnNeedRestart &&
                  platform::ERROR_FILE_NOT_FOUND == sdk::errorFileNotFound &&
                  platform::ERROR_MORE_DATA == sdk::errorMoreData &&
                  platform::ERROR_NO_MORE_ITEMS == sdk::errorNoMoreItems &&
                  platform::KEY_SET_VALUE == sdk::keySetValue && platform::KEY_QUERY_VALUE == sdk::keyQueryValue &&
                  platform::REG_OPTION_NON_VOLATILE == sdk::regOptionNonVolatile &&
                  platform::REG_MULTI_SZ == sdk::regMultiSz,
              "");

namespace platform {
namespace windows {

LSTATUS RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize)
{
    return ::RegQueryValueExW(reinterpret_cast<::HKEY>(key), reinterpret_cast<const ::WCHAR*>(valueName),
                              reinterpret_cast<::DWORD*>(reserved), reinterpret_cast<::DWORD*>(type), data,
                              reinterpret_cast<::DWORD*>(dataSize));
}

namespace {

// A handle closed when it goes.
using OwnedHandle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;
using OwnedKey = std::unique_ptr<std::remove_pointer_t<::HKEY>, decltype(&::RegCloseKey)>;

// A key's owner, group and access list, as its security descriptor; the
// registry's status.
LSTATUS ReadKeySecurity(HKEY root, const WCHAR* subKey, std::vector<BYTE>* descriptor)
{
    ::HKEY opened = nullptr;
    LSTATUS status = ::RegOpenKeyExW(reinterpret_cast<::HKEY>(root), reinterpret_cast<const ::WCHAR*>(subKey), 0,
                                     READ_CONTROL, &opened);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    OwnedKey key(opened, ::RegCloseKey);
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::DWORD size = 0;
    status = ::RegGetKeySecurity(key.get(), parts, nullptr, &size);
    if (static_cast<DWORD>(status) == ERROR_INSUFFICIENT_BUFFER) {
        descriptor->assign(size, 0);
        status = ::RegGetKeySecurity(key.get(), parts, descriptor->data(), &size);
    } else if (status == ERROR_SUCCESS) {
        status = ERROR_INVALID_DATA; // a key has a descriptor, so it never fits in nothing
    }
    return status;
}

} // namespace

LSTATUS CheckKeyAccess(HKEY root, const WCHAR* subKey, REGSAM access, BOOL* granted)
{
    *granted = FALSE;
    std::vector<BYTE> descriptor;
    LSTATUS status = ReadKeySecurity(root, subKey, &descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // AccessCheck wants an impersonation token of the process's own.
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &opened)) {
        return static_cast<LSTATUS>(::GetLastError());
    }
    OwnedHandle process(opened, ::CloseHandle);
    HANDLE duplicated = nullptr;
    if (!::DuplicateToken(process.get(), SecurityImpersonation, &duplicated)) {
        return static_cast<LSTATUS>(::GetLastError());
    }
    OwnedHandle token(duplicated, ::CloseHandle);
    GENERIC_MAPPING mapping = {sdk::keyRead, KEY_WRITE, KEY_EXECUTE, sdk::keyAllAccess};
    ::DWORD wanted = access;
    ::MapGenericMask(&wanted, &mapping);
    PRIVILEGE_SET privileges = {};
    ::DWORD privilegesSize = sizeof(privileges);
    ::DWORD given = 0;
    ::BOOL allowed = FALSE;
    if (!::AccessCheck(descriptor.data(), token.get(), wanted, &mapping, &privileges, &privilegesSize, &given,
                       &allowed)) {
        return static_cast<LSTATUS>(::GetLastError());
    }
    *granted = allowed ? TRUE : FALSE;
    return ERROR_SUCCESS;
}

BOOL IsProcessElevated()
{
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) {
        return FALSE;
    }
    OwnedHandle token(opened, ::CloseHandle);
    TOKEN_ELEVATION elevation = {};
    ::DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

void SetLastError(DWORD error)
{
    ::SetLastError(error);
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, WCHAR* id, DWORD idSize,
                                 DWORD* requiredSize)
{
    return ::SetupDiGetDeviceInstanceIdW(set, reinterpret_cast<::SP_DEVINFO_DATA*>(deviceInfo),
                                         reinterpret_cast<::WCHAR*>(id), idSize,
                                         reinterpret_cast<::DWORD*>(requiredSize));
}

LSTATUS RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass, DWORD options,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition)
{
    return ::RegCreateKeyExW(
        reinterpret_cast<::HKEY>(key), reinterpret_cast<const ::WCHAR*>(subKey), reserved,
        reinterpret_cast<::WCHAR*>(keyClass), options, samDesired,
        const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(security)),
        reinterpret_cast<::HKEY*>(result), reinterpret_cast<::DWORD*>(disposition));
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* nameSize, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataSize)
{
    return ::RegEnumValueW(reinterpret_cast<::HKEY>(key), index, reinterpret_cast<::WCHAR*>(valueName),
                           reinterpret_cast<::DWORD*>(nameSize), reinterpret_cast<::DWORD*>(reserved),
                           reinterpret_cast<::DWORD*>(type), data, reinterpret_cast<::DWORD*>(dataSize));
}

LSTATUS RegFlushKey(HKEY key)
{
    return ::RegFlushKey(reinterpret_cast<::HKEY>(key));
}

} // namespace windows
} // namespace platform
