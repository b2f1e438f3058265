// The deployment's own work on Windows. The tool's headers come first: the
// SDK's macros, defined after them, would otherwise replace the names of the
// boundary's constants.
#include "deploy/win_system.h"

#include "common/unicode.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text)
{
    return Utf16ToUtf8(reinterpret_cast<const platform::WCHAR*>(text.data()), text.size());
}

std::string Error(DWORD error)
{
    return "error " + std::to_string(error);
}

// A handle that is closed when it goes.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Handle()
    {
        if (Valid()) {
            ::CloseHandle(handle_);
        }
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// The security identifier of the account the process runs as.
std::vector<BYTE> ProcessUser()
{
    HANDLE token = nullptr;
    std::vector<BYTE> user;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        (void)::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user.resize(size);
        if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
            user.clear();
        }
        ::CloseHandle(token);
    }
    return user;
}

std::string AccountName(PSID sid)
{
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return Narrow(std::wstring(domain) + (domainSize > 0 ? L"\\" : L"") + name);
    }
    LPWSTR text = nullptr;
    std::string shown = "an unknown account";
    if (::ConvertSidToStringSidW(sid, &text)) {
        shown = Narrow(text);
        ::LocalFree(text);
    }
    return shown;
}

// The path Windows reached by the handle, with the "\\?\" it puts before it
// left out: a link or junction anywhere on the way leads it elsewhere.
std::wstring FinalPath(HANDLE handle)
{
    std::wstring path(32768, L'\0');
    DWORD length =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    path.resize(length < path.size() ? length : 0);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\\\" + path.substr(8);
    }
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

bool SamePath(const std::wstring& first, const std::wstring& second)
{
    return ::CompareStringOrdinal(first.c_str(), -1, second.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Checks what a handle was opened on: not a link or any other reparse point,
// a folder or a file as wanted (a file of one name), reached at the path it
// was opened by, and owned by Administrators, SYSTEM or this process's own
// account, which no other account can make itself.
bool CheckOpened(HANDLE handle, const std::wstring& path, bool folder, std::string* problem)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(handle, &info)) {
        *problem = "cannot be examined (" + Error(::GetLastError()) + ")";
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *problem = "is a link or another reparse point";
        return false;
    }
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
        *problem = folder ? "is not a folder" : "is a folder";
        return false;
    }
    if (!folder && info.nNumberOfLinks != 1) {
        *problem = "has " + std::to_string(info.nNumberOfLinks) + " names (hard links)";
        return false;
    }
    std::wstring reached = FinalPath(handle);
    if (!SamePath(reached, path)) {
        *problem = "leads elsewhere (to " + Narrow(reached) + ")";
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                     nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        *problem = "its owner cannot be read (" + Error(status) + ")";
        return false;
    }
    std::vector<BYTE> user = ProcessUser();
    bool trusted = ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid) ||
                   (!user.empty() && ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid));
    if (!trusted) {
        *problem = "belongs to " + AccountName(owner) + ", not to Administrators or SYSTEM";
    }
    ::LocalFree(descriptor);
    return trusted;
}

// Refuses, by its path, what Windows shows as a link there; Wine shows a link
// to a folder only this way.
bool CheckPath(const std::wstring& path, std::string* problem)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *problem = "is a link or another reparse point";
        return false;
    }
    return true;
}

// Opens a folder to write in, making it with the security descriptor given
// (the parent's, when null) if it is not there. It is held open, without
// letting anyone delete or rename it, while the handle lives.
Handle OpenTrustedFolder(const std::wstring& path, const wchar_t* security, std::string* problem)
{
    if (!CheckPath(path, problem)) {
        return Handle();
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (security != nullptr &&
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW(security, SDDL_REVISION_1, &descriptor, nullptr)) {
        *problem = "its security cannot be made (" + Error(::GetLastError()) + ")";
        return Handle();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    BOOL made = ::CreateDirectoryW(path.c_str(), descriptor != nullptr ? &attributes : nullptr);
    DWORD error = ::GetLastError();
    ::LocalFree(descriptor);
    if (!made && error != ERROR_ALREADY_EXISTS) {
        *problem = "cannot be made (" + Error(error) + ")";
        return Handle();
    }
    Handle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.Valid()) {
        *problem = "cannot be opened (" + Error(::GetLastError()) + ")";
        return Handle();
    }
    return CheckOpened(folder.Get(), path, true, problem) ? std::move(folder) : Handle();
}

// Opens a file in a trusted folder, for the access given, never through a link.
Handle OpenTrustedFile(const std::wstring& path, DWORD access, DWORD disposition, std::string* problem)
{
    if (!CheckPath(path, problem)) {
        return Handle();
    }
    Handle file(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        *problem = "cannot be opened (" + Error(::GetLastError()) + ")";
        return Handle();
    }
    return CheckOpened(file.Get(), path, false, problem) ? std::move(file) : Handle();
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadAll(HANDLE file, std::string* bytes)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > 64LL * 1024 * 1024) {
        return false;
    }
    bytes->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes->empty() || (::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                              read == bytes->size());
}

std::wstring WindowsFolder()
{
    wchar_t path[MAX_PATH] = {};
    UINT length = ::GetSystemWindowsDirectoryW(path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

// The 64-bit Program Files folder, as Windows records it, whatever the
// environment the process was started with says.
std::wstring ProgramFilesFolder()
{
    HKEY key = nullptr;
    std::wstring path;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        wchar_t value[MAX_PATH] = {};
        DWORD size = sizeof(value) - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(key, L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ) {
            path = value;
        }
        ::RegCloseKey(key);
    }
    return path;
}

// The folder this program was started from.
std::wstring ProgramFolder()
{
    std::wstring path(32768, L'\0');
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\'));
}

} // namespace

std::string WindowsDeploySystem::UtcTime()
{
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    char text[32];
    (void)std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                        now.wHour, now.wMinute, now.wSecond);
    return text;
}

std::string WindowsDeploySystem::UserName()
{
    std::vector<BYTE> user = ProcessUser();
    return user.empty() ? "an unknown account" : AccountName(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
}

std::string WindowsDeploySystem::ErrorText(platform::DWORD error)
{
    wchar_t text[512] = {};
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                         nullptr, error, 0, text, 512, nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L' ' || message.back() == L'\r' || message.back() == L'\n')) {
        message.pop_back();
    }
    return Narrow(message);
}

bool WindowsDeploySystem::AppendToLog(const std::string& entry, std::string* problem)
{
    std::wstring logs = WindowsFolder() + L"\\Logs";
    (void)::CreateDirectoryW(logs.c_str(), nullptr); // Windows has it; a fresh Wine may not
    std::wstring folderPath = logs + L"\\Tessary";
    // SYSTEM and Administrators may do anything in it, everyone else read;
    // nothing is inherited from the folder above.
    Handle folder =
        OpenTrustedFolder(folderPath, L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)", problem);
    if (!folder.Valid()) {
        *problem = Narrow(folderPath) + " " + *problem;
        return false;
    }
    std::wstring path = folderPath + L"\\tessary.log";
    std::string text;
    for (char c : entry) {
        text += c == '\n' ? "\r\n" : std::string(1, c);
    }
    Handle log = OpenTrustedFile(path, FILE_APPEND_DATA, OPEN_ALWAYS, problem);
    LARGE_INTEGER size = {};
    if (log.Valid() && ::GetFileSizeEx(log.Get(), &size) && size.QuadPart > 0 &&
        static_cast<unsigned long long>(size.QuadPart) + text.size() > MAX_LOG_BYTES) {
        // Full: it becomes the one older file, and a new log begins.
        log = Handle();
        if (!::MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING)) {
            *problem = Narrow(path) + " cannot be moved aside to make room (" + Error(::GetLastError()) + ")";
            return false;
        }
        log = OpenTrustedFile(path, FILE_APPEND_DATA, OPEN_ALWAYS, problem);
    }
    if (!log.Valid()) {
        *problem = Narrow(path) + " " + *problem;
        return false;
    }
    if (!WriteAll(log.Get(), text)) {
        *problem = Narrow(path) + " cannot be written (" + Error(::GetLastError()) + ")";
        return false;
    }
    return true;
}

bool WindowsDeploySystem::InstallCheck(bool install, std::string* problem)
{
    std::wstring programFiles = ProgramFilesFolder();
    if (programFiles.empty()) {
        *problem = "the Program Files folder is not known";
        return false;
    }
    std::wstring folderPath = programFiles + L"\\Tessary";
    std::wstring path = folderPath + L"\\tessary-preflight.exe";
    if (!install && ::GetFileAttributesW(folderPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return true; // nothing to remove
    }
    Handle folder = OpenTrustedFolder(folderPath, nullptr, problem);
    if (!folder.Valid()) {
        *problem = Narrow(folderPath) + " " + *problem;
        return false;
    }
    if (!install) {
        if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            *problem = Narrow(path) + " cannot be removed (" + Error(::GetLastError()) + ")";
            return false;
        }
        folder = Handle();
        (void)::RemoveDirectoryW(folderPath.c_str()); // only when it is empty
        return true;
    }
    std::wstring sourcePath = ProgramFolder() + L"\\tessary-preflight.exe";
    Handle source(::CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string wanted;
    if (!source.Valid() || !ReadAll(source.Get(), &wanted)) {
        *problem = Narrow(sourcePath) + " cannot be read (" + Error(::GetLastError()) + ")";
        return false;
    }
    Handle target = OpenTrustedFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, problem);
    std::string present;
    if (!target.Valid() || !ReadAll(target.Get(), &present)) {
        *problem = Narrow(path) + " " + (target.Valid() ? "cannot be read" : *problem);
        return false;
    }
    if (present == wanted) {
        return true; // in place already: nothing is written
    }
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(target.Get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(target.Get()) ||
        !WriteAll(target.Get(), wanted)) {
        *problem = Narrow(path) + " cannot be written (" + Error(::GetLastError()) + ")";
        return false;
    }
    return true;
}

void WindowsDeploySystem::Warn(const std::string& line)
{
    (void)std::fprintf(stderr, "%s\n", line.c_str());
    (void)std::fflush(stderr);
}
