// The tool's headers first: the SDK's macros would replace the names of the
// boundary's constants.
#include "common/unicode.h"

#include "platform/win/win_files.h"

#include <sddl.h>

#include <algorithm>
#include <vector>

namespace winfiles {

std::string Narrow(const std::wstring& text)
{
    return EscapeControlCharacters(Utf16ToUtf8(reinterpret_cast<const platform::WCHAR*>(text.data()), text.size()));
}

std::string SystemText(DWORD error)
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

std::string Error(DWORD error)
{
    std::string text = SystemText(error);
    return "error " + std::to_string(error) + (text.empty() ? "" : " (" + text + ")");
}

std::wstring FinalPath(HANDLE handle)
{
    std::wstring path(32768, L'\0');
    DWORD length =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    path.resize(length < path.size() ? length : 0);
    return WithoutPrefix(path);
}

std::wstring WithoutPrefix(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        return L"\\\\" + path.substr(8);
    }
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

bool SamePath(const std::wstring& first, const std::wstring& second)
{
    return ::CompareStringOrdinal(first.c_str(), -1, second.c_str(), -1, TRUE) == CSTR_EQUAL;
}

namespace {

// A reparse point's tag stands for another name when its name-surrogate bit
// is set; no reparse point has the tag 0, so that is one that was not read.
bool LinkTag(DWORD tag)
{
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

} // namespace

bool IsLink(HANDLE handle, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    return !::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) || LinkTag(tag.ReparseTag);
}

bool CheckPath(const std::wstring& path, std::string* problem)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;
    }
    // The path names something that is there (a name with wildcards has no
    // attributes), so the search finds that one entry, with its tag.
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        *problem = "is a reparse point whose kind cannot be read (" + Error(::GetLastError()) + ")";
        return false;
    }
    DWORD tag = found.dwReserved0;
    ::FindClose(search);
    if (LinkTag(tag)) {
        *problem = "is a link or a junction";
        return false;
    }
    return true;
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadAll(HANDLE file, long long maxBytes, std::string* bytes)
{
    LARGE_INTEGER size = {};
    LARGE_INTEGER start = {};
    if (!::GetFileSizeEx(file, &size) || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    // The two failures Windows does not report itself are given codes of
    // their own, so that no caller quotes an earlier call's error.
    if (size.QuadPart > maxBytes) {
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    bytes->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (bytes->empty()) {
        return true;
    }
    if (!::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr)) {
        return false;
    }
    if (read != bytes->size()) {
        ::SetLastError(ERROR_HANDLE_EOF); // the file shrank since its size was read
        return false;
    }
    return true;
}

// FileDispositionInfoEx, which the SDK's headers declare only for a later
// _WIN32_WINNT than this build's: the class after FileIdExtdDirectoryRestartInfo.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
static_assert(FileIdExtdDirectoryRestartInfo + 1 == 21, "FileDispositionInfoEx follows it");

bool DeleteByHandle(HANDLE file)
{
    // A POSIX-style delete (Windows 10 1607 on, NTFS); a platform or file
    // system without it refuses it (Wine 8 with ERROR_INVALID_PARAMETER,
    // FAT), and the plain delete, whose error then stands, serves there.
    FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (::SetFileInformationByHandle(file, FILE_DISPOSITION_INFO_EX_CLASS, &posix, sizeof(posix))) {
        return true;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

namespace {

// The file system's own calls, in ntdll, which is in every process.
struct IoStatus {
    LONG_PTR Status;
    ULONG_PTR Information;
};

// A function of ntdll; null, with ERROR_PROC_NOT_FOUND, when it has none of
// that name.
FARPROC NtFunction(const char* name)
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    FARPROC function = ntdll != nullptr ? ::GetProcAddress(ntdll, name) : nullptr;
    if (function == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return function;
}

// Whether an NTSTATUS is a success; if not, the last error says which
// failure.
bool Succeeded(LONG status)
{
    using StatusToError = ULONG(WINAPI*)(LONG);
    if (status >= 0) {
        return true;
    }
    FARPROC toError = NtFunction("RtlNtStatusToDosError");
    ::SetLastError(toError != nullptr ? reinterpret_cast<StatusToError>(reinterpret_cast<void*>(toError))(status)
                                      : ERROR_GEN_FAILURE);
    return false;
}

} // namespace

bool RenameByHandle(HANDLE file, const std::wstring& path, HANDLE folder)
{
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + (path.size() + 1) * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    std::copy(path.begin(), path.end(), rename->FileName);
    if (folder == nullptr) {
        return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
    }
    // A name below a folder's handle goes to the file system's own call, as
    // it stands: kernel32 may make it a full path first (Wine's does), which
    // a root folder does not take. The record is the file system's
    // FILE_RENAME_INFORMATION.
    constexpr ULONG FILE_RENAME_INFORMATION_CLASS = 10;
    using SetInformation = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, ULONG);
    FARPROC set = NtFunction("NtSetInformationFile");
    IoStatus io = {};
    return set != nullptr &&
           Succeeded(reinterpret_cast<SetInformation>(reinterpret_cast<void*>(set))(
               file, &io, buffer.data(), static_cast<ULONG>(buffer.size()), FILE_RENAME_INFORMATION_CLASS));
}

HANDLE CreateNewIn(HANDLE folder, const std::wstring& name, DWORD access)
{
    // NtCreateFile's records, as the file system takes them: the name is
    // opened below the folder's handle, not through its path.
    struct CountedText {
        USHORT Length;
        USHORT MaximumLength;
        wchar_t* Buffer;
    };
    struct ObjectAttributes {
        ULONG Length;
        HANDLE RootDirectory;
        CountedText* ObjectName;
        ULONG Attributes;
        void* SecurityDescriptor;
        void* SecurityQualityOfService;
    };
    constexpr ULONG OBJ_CASE_INSENSITIVE_NAME = 0x40;
    constexpr ULONG FILE_CREATE_NEW = 2;            // FILE_CREATE: fails if the name is there
    constexpr ULONG NON_DIRECTORY_FILE = 0x40;      // FILE_NON_DIRECTORY_FILE
    constexpr ULONG SYNCHRONOUS_IO_NONALERT = 0x20; // FILE_SYNCHRONOUS_IO_NONALERT
    constexpr ULONG OPEN_REPARSE_POINT = 0x200000;  // FILE_OPEN_REPARSE_POINT
    using CreateNtFile = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*, IoStatus*, LARGE_INTEGER*, ULONG, ULONG,
                                       ULONG, ULONG, void*, ULONG);
    if (name.empty() || name.size() * sizeof(wchar_t) > 0xFFFE) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring text = name;
    CountedText counted = {static_cast<USHORT>(text.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(text.size() * sizeof(wchar_t)), text.data()};
    ObjectAttributes attributes = {sizeof(ObjectAttributes),  folder,  &counted,
                                   OBJ_CASE_INSENSITIVE_NAME, nullptr, nullptr};
    FARPROC create = NtFunction("NtCreateFile");
    HANDLE file = nullptr;
    IoStatus io = {};
    if (create == nullptr ||
        !Succeeded(reinterpret_cast<CreateNtFile>(reinterpret_cast<void*>(create))(
            &file, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, 0,
            FILE_CREATE_NEW, NON_DIRECTORY_FILE | SYNCHRONOUS_IO_NONALERT | OPEN_REPARSE_POINT, nullptr, 0))) {
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

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

bool TrustedOwner(HANDLE handle, SE_OBJECT_TYPE type, bool ownAccount, std::string* problem)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status =
        ::GetSecurityInfo(handle, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        *problem = "has an owner that cannot be read (" + Error(status) + ")";
        return false;
    }
    std::vector<BYTE> user = ownAccount ? ProcessUser() : std::vector<BYTE>();
    bool trusted = ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid) ||
                   (!user.empty() && ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid));
    if (!trusted) {
        *problem = "belongs to " + AccountName(owner) + ", not to Administrators or SYSTEM";
    }
    ::LocalFree(descriptor);
    return trusted;
}

} // namespace winfiles
