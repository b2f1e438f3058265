// The deployment's own work on Windows. The tool's headers come first: the
// SDK's macros, defined after them, would otherwise replace the names of the
// boundary's constants.
#include "deploy/win_system.h"

#include "common/text_format.h"
#include "common/unicode.h"
#include "deploy/image_digest.h"
#include "platform/win/win_console.h"

#include <windows.h>

#include "platform/win/win_files.h"

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <string>
#include <utility>
#include <vector>

using winfiles::AccountName;
using winfiles::Error;
using winfiles::Handle;
using winfiles::Narrow;
using winfiles::ProcessUser;
using winfiles::SystemText;
using winfiles::TrustedOwner;

namespace {

// Who may do what in the folders the deployment writes: SYSTEM and
// Administrators anything, and for the installed programs, Users read and
// run them; nothing is inherited from the folder above. Users may not list
// the programs' folder: a handle with that access, held without sharing,
// would refuse the deployment's own open of the folder and every rename
// into it; what they keep of it (its attributes, its access list) takes no
// part in sharing.
//
// What the deployment makes is owned by Administrators, as the run lock is,
// whichever of them or SYSTEM makes it. Left to the token, an administrator's
// own account owns it where the policy "Default owner for objects created by
// members of the Administrators group" is "Object creator" (the built-in
// Administrator account's runs, say), and every later run as SYSTEM would
// refuse it as another account's.
constexpr const wchar_t* LOG_FOLDER_SECURITY = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr const wchar_t* LOG_FILE_SECURITY = L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)";
constexpr const wchar_t* PROGRAM_FOLDER_SECURITY =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OIIO;0x1200a9;;;BU)(A;;0x120080;;;BU)";
// A program's file takes its access list from its folder.
constexpr const wchar_t* PROGRAM_FILE_SECURITY = L"O:BA";

constexpr const wchar_t* PREFLIGHT_NAME = L"tessary-preflight.exe";
constexpr const wchar_t* DEPLOY_NAME = L"tessary-deploy.exe";
// How the log names a copy left beside a program for the next restart.
constexpr const char* LEFT_FOR_RESTART = ", a copy an earlier run left for the next restart, ";

// The largest program read whole.
constexpr long long MAX_PROGRAM_BYTES = 64LL * 1024 * 1024;

// A security descriptor made from an SDDL text, freed when it goes. None is
// made for no text; Failure() says why one could not be.
class Security {
public:
    explicit Security(const wchar_t* sddl)
    {
        if (sddl != nullptr &&
            !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
            failure_ = ::GetLastError();
        }
    }
    Security(const Security&) = delete;
    Security& operator=(const Security&) = delete;
    ~Security() { ::LocalFree(descriptor_); }

    PSECURITY_DESCRIPTOR Get() const { return descriptor_; }
    DWORD Failure() const { return failure_; }
    // Attributes that make an object with this security.
    SECURITY_ATTRIBUTES* Attributes()
    {
        attributes_ = {sizeof(attributes_), descriptor_, FALSE};
        return &attributes_;
    }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    DWORD failure_ = ERROR_SUCCESS;
    SECURITY_ATTRIBUTES attributes_ = {};
};

// Checks what a handle was opened on: not a link (winfiles::IsLink),
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
    if (winfiles::IsLink(handle, info.dwFileAttributes)) {
        *problem = "is a link or a junction";
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
    std::wstring reached = winfiles::FinalPath(handle);
    if (!winfiles::SamePath(reached, path)) {
        *problem = "leads elsewhere (to " + Narrow(reached) + ")";
        return false;
    }
    return TrustedOwner(handle, SE_FILE_OBJECT, true, problem);
}

// Gives what the handle is open on the protected access list of an SDDL text.
bool SetAccess(HANDLE handle, const wchar_t* security, std::string* problem)
{
    Security descriptor(security);
    if (descriptor.Failure() != ERROR_SUCCESS) {
        *problem = "its access list cannot be made (" + Error(descriptor.Failure()) + ")";
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    DWORD status =
        ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted)
            ? ::SetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr)
            : ::GetLastError();
    if (status != ERROR_SUCCESS) {
        *problem = "its access list cannot be set (" + Error(status) + ")";
        return false;
    }
    return true;
}

// Opens a folder to write in, making it if it is not there, and gives it the
// protected access list of security, whether it was made now or was there
// before. It is held open, without letting anyone delete or rename it, while
// the handle lives.
Handle OpenTrustedFolder(const std::wstring& path, const wchar_t* security, DWORD access, std::string* problem)
{
    if (!winfiles::CheckPath(path, problem)) {
        return Handle();
    }
    Security descriptor(security);
    if (descriptor.Failure() != ERROR_SUCCESS) {
        *problem = "its security cannot be made (" + Error(descriptor.Failure()) + ")";
        return Handle();
    }
    BOOL made = security != nullptr && ::CreateDirectoryW(path.c_str(), descriptor.Attributes());
    DWORD error = ::GetLastError();
    if (security != nullptr && !made && error != ERROR_ALREADY_EXISTS) {
        *problem = "cannot be made (" + Error(error) + ")";
        return Handle();
    }
    Handle folder(::CreateFileW(path.c_str(),
                                access | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL |
                                    (security != nullptr ? WRITE_DAC : 0),
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.Valid()) {
        *problem = "cannot be opened (" + Error(::GetLastError()) + ")";
        return Handle();
    }
    if (!CheckOpened(folder.Get(), path, true, problem) ||
        (security != nullptr && !SetAccess(folder.Get(), security, problem))) {
        return Handle();
    }
    return folder;
}

// Opens a file in a trusted folder, for the access given, never through a link.
// openError, when given, has the open's error when it failed. A file the open
// makes has the security of security, when given.
Handle OpenTrustedFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, std::string* problem,
                       DWORD* openError = nullptr, const wchar_t* security = nullptr)
{
    if (!winfiles::CheckPath(path, problem)) {
        return Handle();
    }
    Security descriptor(security);
    if (descriptor.Failure() != ERROR_SUCCESS) {
        *problem = "its security cannot be made (" + Error(descriptor.Failure()) + ")";
        return Handle();
    }
    Handle file(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | READ_CONTROL, share,
                              security != nullptr ? descriptor.Attributes() : nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        DWORD error = ::GetLastError();
        if (openError != nullptr) {
            *openError = error;
        }
        *problem = "cannot be opened (" + Error(error) + ")";
        return Handle();
    }
    return CheckOpened(file.Get(), path, false, problem) ? std::move(file) : Handle();
}

// Clears the read-only attribute of a file open with FILE_WRITE_ATTRIBUTES,
// which would make its deletion or replacement fail with error 5, as a
// running program's does (and a removal Windows carries out at the next
// restart too); whether it is clear now.
bool ClearReadOnly(HANDLE file)
{
    FILE_BASIC_INFO info = {};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) {
        return false;
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return true;
    }
    // Times of zero are left as they are; so are attributes of zero, which
    // FILE_ATTRIBUTE_NORMAL says instead.
    FILE_BASIC_INFO cleared = {};
    cleared.FileAttributes = info.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    cleared.FileAttributes = cleared.FileAttributes != 0 ? cleared.FileAttributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &cleared, sizeof cleared) != FALSE;
}

// The identity of the file a handle is open on: its volume and its index.
bool SameFile(HANDLE first, HANDLE second)
{
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    return ::GetFileInformationByHandle(first, &a) && ::GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// A program to install, opened through a handle that does not follow a link
// (a link, whatever it leads to, is refused), and read whole.
struct Source {
    Handle File;
    std::string Bytes;
};

bool ReadSource(const std::wstring& path, Source* source, std::string* problem)
{
    source->File = Handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!source->File.Valid() || !::GetFileInformationByHandle(source->File.Get(), &info)) {
        *problem = Narrow(path) + " cannot be opened (" + Error(::GetLastError()) + ")";
        return false;
    }
    if (winfiles::IsLink(source->File.Get(), info.dwFileAttributes) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *problem = Narrow(path) + " is a link, a junction or a folder, not a program";
        return false;
    }
    // A reparse point that holds its own data (a deduplicated, compressed or
    // cloud file) gives it only to a handle that does not open the reparse
    // point itself: the same file, opened again through this handle.
    Handle data(::ReOpenFile(source->File.Get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0));
    if (!data.Valid()) {
        *problem = Narrow(path) + " cannot be opened to read (" + Error(::GetLastError()) + ")";
        return false;
    }
    if (!SameFile(source->File.Get(), data.Get())) {
        *problem = Narrow(path) + " became a link while it was read";
        return false;
    }
    if (!winfiles::ReadAll(data.Get(), MAX_PROGRAM_BYTES, &source->Bytes)) {
        *problem = Narrow(path) + " cannot be read (" + Error(::GetLastError()) + ")";
        return false;
    }
    return true;
}

// The Authenticode SHA-256 digest of an image, in small hexadecimal digits,
// through the platform's cryptographic provider; "" when it cannot be taken.
std::string ImageDigest(const std::string& image, std::string* problem)
{
    ImageDigestPlan plan;
    if (!PlanImageDigest(image, &plan, problem)) {
        return "";
    }
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE value[32] = {};
    DWORD size = sizeof(value);
    bool taken =
        ::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
        ::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    const std::string padding(plan.Padding, '\0');
    plan.Ranges.emplace_back(0, 0); // the padding, hashed last
    for (std::size_t i = 0; taken && i < plan.Ranges.size(); ++i) {
        bool last = i + 1 == plan.Ranges.size();
        const char* data = last ? padding.data() : image.data() + plan.Ranges[i].first;
        std::size_t length = last ? padding.size() : plan.Ranges[i].second;
        taken =
            length == 0 || ::CryptHashData(hash, reinterpret_cast<const BYTE*>(data), static_cast<DWORD>(length), 0);
    }
    taken = taken && ::CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) && size == sizeof(value);
    DWORD error = ::GetLastError();
    if (hash != 0) {
        ::CryptDestroyHash(hash);
    }
    if (provider != 0) {
        ::CryptReleaseContext(provider, 0);
    }
    if (!taken) {
        *problem = "its digest cannot be taken (" + Error(error) + ")";
        return "";
    }
    std::string text;
    for (BYTE byte : value) {
        text += HexByte(byte);
    }
    return text;
}

// The pre-flight this deployment was built with (of the digest wanted), from
// the deployment's own folder: the program there or, when that one is not it
// or cannot be read, a copy an earlier run left beside it for Windows to put
// in place at the next restart, as the installed deployment finds its own
// pre-flight until then. copyTaken names the copy when one was taken, and
// problem then says why the program was not; false, with why the program
// was not taken, when neither is.
bool ReadOwnPreflight(const std::wstring& folder, const std::string& wanted, Source* preflight, std::wstring* copyTaken,
                      std::string* problem)
{
    std::wstring path = folder + PREFLIGHT_NAME;
    std::string digest;
    if (ReadSource(path, preflight, problem)) {
        digest = ImageDigest(preflight->Bytes, problem);
        if (digest == wanted) {
            return true;
        }
        *problem = Narrow(path) + " " +
                   (digest.empty() ? *problem
                                   : "is not the one this deployment was built with (its digest is " + digest +
                                         ", not " + wanted + ")");
    }
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((path + L".*.new").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE && copyTaken->empty()) {
        Source copy;
        std::string ignored;
        std::wstring copyPath = folder + found.cFileName;
        if (ReadSource(copyPath, &copy, &ignored) && ImageDigest(copy.Bytes, &ignored) == wanted) {
            *preflight = std::move(copy);
            *copyTaken = copyPath;
        } else if (!::FindNextFileW(search, &found)) {
            break;
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }
    *problem += copyTaken->empty() && !digest.empty() ? "; nothing was installed" : "";
    return !copyTaken->empty();
}

// Whether a file could not be opened, replaced or removed only because it is
// in use: some process holds it open without sharing (any account that may
// read it can), or it is a running program's image.
bool InUse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Installs a program's bytes as folder\name: written under a name of its own
// beside it, flushed, read back and compared, then renamed into place; a
// copy already in place with the same bytes is left as it was. One in use
// is replaced by the new copy at the next restart, so that no account that
// may run it can hold every deployment off by holding it open. Says which in
// done.
bool PlaceProgram(const std::wstring& folder, const wchar_t* name, const std::string& bytes, ProgramsDone* done,
                  std::string* problem)
{
    std::wstring path = folder + L"\\" + name;
    // A link there, even one that leads nowhere, shows attributes of its own.
    bool present = ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool held = false;
    if (present) {
        DWORD openError = ERROR_SUCCESS;
        Handle installed = OpenTrustedFile(path, GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING,
                                           problem, &openError);
        held = !installed.Valid() && openError == ERROR_SHARING_VIOLATION;
        std::string bytesThere;
        if (!held && (!installed.Valid() || !winfiles::ReadAll(installed.Get(), MAX_PROGRAM_BYTES, &bytesThere))) {
            *problem = Narrow(path) + " " +
                       (installed.Valid() ? "cannot be read (" + Error(::GetLastError()) + ")" : *problem);
            return false;
        }
        if (!held && bytesThere == bytes) {
            done->Lines.push_back(Narrow(path) + " left as it was (already this version)");
            return true;
        }
        if (!held && !ClearReadOnly(installed.Get())) {
            *problem = Narrow(path) + " cannot be made writable (" + Error(::GetLastError()) + ")";
            return false;
        }
    }
    std::wstring temporary = path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".new";
    Security owned(PROGRAM_FILE_SECURITY);
    if (owned.Failure() != ERROR_SUCCESS) {
        *problem = Narrow(temporary) + " cannot be given its owner (" + Error(owned.Failure()) + ")";
        return false;
    }
    Handle file(::CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, owned.Attributes(),
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        *problem = Narrow(temporary) + " cannot be made (" + Error(::GetLastError()) + ")";
        return false;
    }
    std::string written;
    if (!winfiles::WriteAll(file.Get(), bytes) || !::FlushFileBuffers(file.Get()) ||
        !winfiles::ReadAll(file.Get(), MAX_PROGRAM_BYTES, &written)) {
        *problem = Narrow(temporary) + " cannot be written (" + Error(::GetLastError()) + ")";
        (void)winfiles::DeleteByHandle(file.Get());
        return false;
    }
    if (written != bytes) {
        *problem = Narrow(temporary) + " does not read back as it was written";
        (void)winfiles::DeleteByHandle(file.Get());
        return false;
    }
    if (!held && winfiles::RenameByHandle(file.Get(), path)) {
        done->Lines.push_back(Narrow(path) + (present ? " updated" : " placed"));
        done->Changed = true;
        return true;
    }
    DWORD error = held ? ERROR_SHARING_VIOLATION : ::GetLastError();
    if (!present || !InUse(error)) {
        *problem = Narrow(path) + " cannot be replaced (" + Error(error) + ")";
        (void)winfiles::DeleteByHandle(file.Get());
        return false;
    }
    // The folder lets only Administrators and SYSTEM write: the verified
    // copy stays as it is until Windows renames it at the next restart.
    file = Handle();
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        *problem = Narrow(path) + " is in use, and its replacement at the next restart cannot be set (" +
                   Error(::GetLastError()) + ")";
        (void)::DeleteFileW(temporary.c_str());
        return false;
    }
    done->Lines.push_back(Narrow(path) + " in use (" + Error(error) + "): " + Narrow(temporary) +
                          " replaces it at the next restart");
    done->Changed = true;
    return true;
}

// A file removed through a handle opened with OpenTrustedFile's checks:
// whether it went, and if not, why, with the system's error where there is
// one (the open's or the removal's).
struct Removal {
    bool Removed = false;
    DWORD Error = ERROR_SUCCESS;
    std::string Why;
};

Removal RemoveTrustedFile(const std::wstring& path)
{
    Removal removal;
    Handle file = OpenTrustedFile(path, DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, &removal.Why, &removal.Error);
    if (file.Valid()) {
        removal.Removed = ClearReadOnly(file.Get()) && winfiles::DeleteByHandle(file.Get());
        removal.Error = removal.Removed ? ERROR_SUCCESS : ::GetLastError();
        removal.Why = removal.Removed ? "" : "cannot be removed (" + Error(removal.Error) + ")";
    }
    return removal;
}

// Calls each with the path of every file in folder whose name matches
// pattern, until one answers false; whether none did. A folder that cannot
// be listed to its end is false too, with why: a file it did not show may
// be there.
template <class Each>
bool EachMatch(const std::wstring& folder, const wchar_t* pattern, std::string* problem, Each each)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    DWORD error = search == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    bool going = true;
    while (error == ERROR_SUCCESS && going) {
        going = each(folder + L"\\" + found.cFileName);
        error = going && !::FindNextFileW(search, &found) ? ::GetLastError() : ERROR_SUCCESS;
    }
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
        *problem = Narrow(folder) + " cannot be listed (" + Error(error) + ")";
        return false;
    }
    return going;
}

// Removes the copies earlier runs left beside the programs for Windows to put
// in place at the next restart (name.<process id>.new): this run's install
// or removal stands instead, and at the restart Windows finds nothing to put
// over it. One that cannot be removed (any account that may read it can hold
// it open) would be put over this run's install or removal at the restart:
// false, with why, and the programs are left as they are.
bool RemoveLeftoverCopies(const std::wstring& folder, ProgramsDone* done, std::string* problem)
{
    return EachMatch(folder, L"tessary-*.exe.*.new", problem, [done, problem](const std::wstring& path) {
        Removal removal = RemoveTrustedFile(path);
        if (!removal.Removed) {
            *problem = Narrow(path) + LEFT_FOR_RESTART + removal.Why +
                       ": Windows would put it in place then, over what this run would leave";
            return false;
        }
        done->Lines.push_back(Narrow(path) + LEFT_FOR_RESTART + "removed");
        done->Changed = true;
        return true;
    });
}

// Removes the programs earlier runs set aside (name.<process id>.removed)
// that are still there: one whose removal at the restart was never set (that
// run was cut short after the rename) would stay for good. One still in use
// is set for removal at the next restart, and later set.
bool RemoveSetAsideCopies(const std::wstring& folder, ProgramsDone* done, bool* later, std::string* problem)
{
    return EachMatch(folder, L"tessary-*.exe.*.removed", problem, [done, later, problem](const std::wstring& path) {
        std::string prefix = Narrow(path) + ", a program an earlier run set aside, ";
        Removal removal = RemoveTrustedFile(path);
        if (removal.Removed) {
            done->Lines.push_back(prefix + "removed");
            done->Changed = true;
            return true;
        }
        if (!InUse(removal.Error)) {
            *problem = prefix + removal.Why;
            return false;
        }
        if (!::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            *problem = prefix + "cannot be set for removal at the next restart (" + Error(::GetLastError()) + ")";
            return false;
        }
        done->Lines.push_back(prefix + "is in use (" + Error(removal.Error) + "), to be removed at the next restart");
        *later = true;
        return true;
    });
}

// Removes an installed program through a handle that does not follow links.
// One that cannot go now (this program's own image, or another running one)
// is renamed aside, so that its name is free for an install before the next
// restart, and left to Windows to remove then. Says which in done, and sets
// later then. One that cannot even be renamed (some process holds it open
// without sharing) is not removed, and a later run removes it: a removal by
// name at the next restart would take a program installed before it, this
// program's own image too. The file is one OpenProgramToRemove opened.
bool RemoveProgram(const std::wstring& path, Handle file, HANDLE running, ProgramsDone* done, bool* later,
                   std::string* problem)
{
    bool self = running != INVALID_HANDLE_VALUE && SameFile(file.Get(), running);
    // Writable first, for its removal now or at the next restart.
    bool writable = ClearReadOnly(file.Get());
    if (!self && writable && winfiles::DeleteByHandle(file.Get())) {
        done->Lines.push_back(Narrow(path) + " removed");
        done->Changed = true;
        return true;
    }
    DWORD error = ::GetLastError();
    if (!self && !InUse(error)) {
        *problem = Narrow(path) + " cannot be removed (" + Error(error) + ")";
        return false;
    }
    std::string why = self ? "it is the program running" : "it is in use (" + Error(error) + ")";
    std::wstring gone = path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".removed";
    if (!winfiles::RenameByHandle(file.Get(), gone)) {
        DWORD renameError = ::GetLastError();
        *problem = Narrow(path) + " cannot be removed (" +
                   (self ? std::string("it is the program running") : Error(error)) + ") or set aside (" +
                   Error(renameError) + ")";
        return false;
    }
    file = Handle();
    if (!::MoveFileExW(gone.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        *problem = Narrow(gone) + " cannot be set for removal at the next restart (" + Error(::GetLastError()) + ")";
        return false;
    }
    done->Lines.push_back(Narrow(path) + " set aside as " + Narrow(gone) + ", to be removed at the next restart (" +
                          why + ")");
    done->Changed = true;
    *later = true;
    return true;
}

// Opens an installed program for its removal, through a handle that does
// not follow links; an invalid handle, and why, when it cannot be.
Handle OpenProgramToRemove(const std::wstring& path, std::string* problem)
{
    Handle file = OpenTrustedFile(path, DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, problem);
    if (!file.Valid()) {
        *problem = Narrow(path) + " " + *problem;
    }
    return file;
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

// The path this program was started from.
std::wstring ProgramPath()
{
    std::wstring path(32768, L'\0');
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

// Where the open log ends now; all zero when that cannot be read, which no
// write leaves.
LogEnd EndOf(HANDLE log)
{
    BY_HANDLE_FILE_INFORMATION file = {};
    if (!::GetFileInformationByHandle(log, &file)) {
        return {};
    }
    return {file.dwVolumeSerialNumber, (static_cast<ULONGLONG>(file.nFileIndexHigh) << 32) | file.nFileIndexLow,
            (static_cast<ULONGLONG>(file.nFileSizeHigh) << 32) | file.nFileSizeLow};
}

std::wstring InstallFolder()
{
    std::wstring programFiles = ProgramFilesFolder();
    return programFiles.empty() ? programFiles : programFiles + L"\\Tessary";
}

} // namespace

WindowsDeploySystem::WindowsDeploySystem(std::string preflightDigest, unsigned long lockWait)
    : preflightDigest_(std::move(preflightDigest)), lockWait_(lockWait), programPath_(ProgramPath())
{
    // Its identity is kept through the very handle it was read by.
    Source self;
    HANDLE running = INVALID_HANDLE_VALUE;
    if (ReadSource(programPath_, &self, &programProblem_)) {
        programBytes_ = std::move(self.Bytes);
        running = ::ReOpenFile(self.File.Get(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
    } else {
        running = ::CreateFileW(programPath_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    }
    running_ = running != INVALID_HANDLE_VALUE ? running : nullptr;
}

WindowsDeploySystem::~WindowsDeploySystem()
{
    if (running_ != nullptr) {
        ::CloseHandle(running_);
    }
    if (mutex_ != nullptr) {
        ::ReleaseMutex(mutex_);
        ::CloseHandle(mutex_);
    }
}

RunLock WindowsDeploySystem::LockRun(std::string* problem)
{
    // Any account may make a mutex in the Global namespace (only a file
    // mapping there takes a privilege), so one already there is waited for
    // only when a deployment made it: a user who took the name first would
    // otherwise hold every deployment off, and with it every recovery.
    Security descriptor(RUN_LOCK_SECURITY);
    if (descriptor.Failure() != ERROR_SUCCESS) {
        *problem = "its security cannot be made (" + Error(descriptor.Failure()) + ")";
        return RunLock::Untrusted;
    }
    HANDLE mutex =
        ::CreateMutexExW(descriptor.Attributes(), RUN_LOCK_NAME, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL);
    DWORD error = ::GetLastError();
    if (mutex == nullptr) {
        *problem = "it cannot be opened (" + Error(error) + ")";
        return RunLock::Untrusted;
    }
    if (error == ERROR_ALREADY_EXISTS && !MadeByDeployment(mutex, problem)) {
        ::CloseHandle(mutex);
        return RunLock::Untrusted;
    }
    switch (::WaitForSingleObject(mutex, lockWait_)) {
    case WAIT_OBJECT_0:
        mutex_ = mutex;
        return RunLock::Acquired;
    case WAIT_ABANDONED:
        mutex_ = mutex;
        return RunLock::Abandoned;
    case WAIT_TIMEOUT:
        ::CloseHandle(mutex);
        return RunLock::Busy;
    default: // WAIT_FAILED: not a deployment holding it, so not 1618
        *problem = "it cannot be waited for (" + Error(::GetLastError()) + ")";
        ::CloseHandle(mutex);
        return RunLock::Untrusted;
    }
}

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
    return SystemText(error);
}

bool WindowsDeploySystem::AppendToLog(const std::string& entry, const std::string& resumed, std::string* problem)
{
    bool continued = !resumed.empty();
    std::wstring logs = WindowsFolder() + L"\\Logs";
    (void)::CreateDirectoryW(logs.c_str(), nullptr); // Windows has it; a fresh Wine may not
    std::wstring folderPath = logs + L"\\Tessary";
    Handle folder = OpenTrustedFolder(folderPath, LOG_FOLDER_SECURITY, 0, problem);
    if (!folder.Valid()) {
        *problem = Narrow(folderPath) + " " + *problem;
        return false;
    }
    std::wstring path = folderPath + L"\\tessary.log";
    auto windowsLines = [](const std::string& lines) {
        std::string text;
        for (char c : lines) {
            text += c == '\n' ? "\r\n" : std::string(1, c);
        }
        return text;
    };
    std::string text = windowsLines(entry);
    // A run that found this one running writes its entry meanwhile, in a few
    // milliseconds: the log is waited for while another holds it.
    auto openLog = [&path, problem](DWORD access, DWORD share, DWORD disposition, DWORD* error) {
        Handle log;
        for (int tries = 0; tries < LOG_SHARED_TRIES && !log.Valid(); ++tries) {
            *error = ERROR_SUCCESS;
            log = OpenTrustedFile(path, access, share, disposition, problem, error, LOG_FILE_SECURITY);
            if (*error != ERROR_SHARING_VIOLATION) {
                break;
            }
            ::Sleep(LOG_SHARED_WAIT_MILLISECONDS);
        }
        return log;
    };
    auto full = [&text, continued](HANDLE log) {
        LARGE_INTEGER size = {};
        return !continued && ::GetFileSizeEx(log, &size) && size.QuadPart > 0 &&
               static_cast<unsigned long long>(size.QuadPart) + text.size() > MAX_LOG_BYTES;
    };
    DWORD error = ERROR_SUCCESS;
    Handle log = openLog(FILE_APPEND_DATA | WRITE_DAC, FILE_SHARE_READ, OPEN_ALWAYS, &error);
    std::string unmoved;
    if (log.Valid() && full(log.Get())) {
        // Full: it becomes the one older file, and a new log begins. The
        // file moved aside is the one found full through the handle that
        // moves it: a run that waits for no lock (one that found another
        // running) may have found the same log full, and moved it first.
        // Where it cannot be moved (a reader that does not share deleting
        // holds it, say), the entry goes on the full log rather than
        // nowhere, and says so.
        log = Handle();
        // (Shared with readers and writers that share deleting: no run's
        // append, which does not, comes in while it is held, nor another
        // run's move, which does not share deleting either.)
        Handle moving = openLog(DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, &error);
        if (!moving.Valid() && error != ERROR_FILE_NOT_FOUND) {
            unmoved = "the log could not be moved aside to make room (" +
                      (error != ERROR_SUCCESS ? Error(error) : *problem) + ")";
        } else if (moving.Valid() && full(moving.Get()) && !winfiles::RenameByHandle(moving.Get(), path + L".1")) {
            unmoved = "the log could not be moved aside to make room (" + Error(::GetLastError()) + ")";
        }
        moving = Handle();
        log = openLog(FILE_APPEND_DATA | WRITE_DAC, FILE_SHARE_READ, OPEN_ALWAYS, &error);
    }
    // A log made by an earlier version may still let everyone read it.
    if (!log.Valid() || !SetAccess(log.Get(), LOG_FILE_SECURITY, problem)) {
        *problem = Narrow(path) + " " + *problem + (unmoved.empty() ? "" : "; " + unmoved);
        return false;
    }
    // Said in the entry, below its first line.
    if (!unmoved.empty()) {
        std::size_t firstLine = text.find("\r\n");
        text.insert(
            firstLine == std::string::npos ? text.size() : firstLine + 2,
            windowsLines("  " + unmoved + ", so it grows past its " + std::to_string(MAX_LOG_BYTES / 1024) + " KiB\n"));
    }
    // Where this run's start no longer ends the log, its rest names the run
    // again.
    if (continued && !(EndOf(log.Get()) == logEnd_)) {
        text = windowsLines(resumed) + text;
    }
    if (!winfiles::WriteAll(log.Get(), text)) {
        *problem = Narrow(path) + " cannot be written (" + Error(::GetLastError()) + ")";
        return false;
    }
    logEnd_ = EndOf(log.Get());
    // Written, the entry counts as written: a flush that fails leaves it to
    // the system's own writing, and an entry begun is not written again.
    (void)::FlushFileBuffers(log.Get());
    return true;
}

bool WindowsDeploySystem::PlacePrograms(ProgramsDone* done, std::string* problem)
{
    std::wstring folderPath = InstallFolder();
    if (folderPath.empty()) {
        *problem = "the Program Files folder is not known";
        return false;
    }
    // Both programs are read and checked before anything is written (this
    // one as it started).
    if (!programProblem_.empty()) {
        *problem = programProblem_;
        return false;
    }
    Source preflight;
    std::wstring copyTaken;
    if (!ReadOwnPreflight(programPath_.substr(0, programPath_.find_last_of(L'\\') + 1), preflightDigest_, &preflight,
                          &copyTaken, problem)) {
        return false;
    }
    if (!copyTaken.empty()) {
        done->Lines.push_back(Narrow(copyTaken) + LEFT_FOR_RESTART +
                              "is the pre-flight this deployment was built with, and is installed (" + *problem + ")");
    }
    Handle folder = OpenTrustedFolder(folderPath, PROGRAM_FOLDER_SECURITY, 0, problem);
    if (!folder.Valid()) {
        *problem = Narrow(folderPath) + " " + *problem;
        return false;
    }
    return RemoveLeftoverCopies(folderPath, done, problem) &&
           PlaceProgram(folderPath, PREFLIGHT_NAME, preflight.Bytes, done, problem) &&
           PlaceProgram(folderPath, DEPLOY_NAME, programBytes_, done, problem);
}

bool WindowsDeploySystem::RemovePrograms(ProgramsDone* done, std::string* problem)
{
    std::wstring folderPath = InstallFolder();
    if (folderPath.empty()) {
        *problem = "the Program Files folder is not known";
        return false;
    }
    if (::GetFileAttributesW(folderPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            *problem = Narrow(folderPath) + " cannot be looked at (" + Error(error) + ")";
            return false;
        }
        done->Lines.push_back(Narrow(folderPath) + " is not there: nothing to remove");
        return true;
    }
    // Each leftover is opened with the checks of its own path; the listing
    // comes first, as a folder held open for its deletion may not be listed.
    if (!RemoveLeftoverCopies(folderPath, done, problem)) {
        return false;
    }
    bool removedLater = false;
    if (!RemoveSetAsideCopies(folderPath, done, &removedLater, problem)) {
        return false;
    }
    {
        // Held without DELETE access while its programs go: setting one
        // aside renames it within the folder, and Windows opens the folder
        // as the rename's target sharing only reading and writing, which a
        // handle with DELETE access would refuse.
        Handle folder = OpenTrustedFolder(folderPath, nullptr, 0, problem);
        if (!folder.Valid()) {
            *problem = Narrow(folderPath) + " " + *problem;
            return false;
        }
        // Both are opened before either goes: one that cannot be (held
        // open without sharing, say) leaves the other, the installed check
        // included, in place for the run that fails.
        std::vector<std::pair<std::wstring, Handle>> programs;
        for (const wchar_t* name : {PREFLIGHT_NAME, DEPLOY_NAME}) {
            std::wstring path = folderPath + L"\\" + name;
            if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
                continue;
            }
            Handle file = OpenProgramToRemove(path, problem);
            if (!file.Valid()) {
                return false;
            }
            programs.emplace_back(path, std::move(file));
        }
        for (auto& [path, file] : programs) {
            if (!RemoveProgram(path, std::move(file), running_ != nullptr ? running_ : INVALID_HANDLE_VALUE, done,
                               &removedLater, problem)) {
                return false;
            }
        }
    }
    if (removedLater) {
        if (!::MoveFileExW(folderPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            *problem =
                Narrow(folderPath) + " cannot be set for removal at the next restart (" + Error(::GetLastError()) + ")";
            return false;
        }
        done->Lines.push_back(Narrow(folderPath) + " to be removed at the next restart");
        return true;
    }
    // Opened again, with the same checks, to delete it.
    std::string why;
    Handle folder = OpenTrustedFolder(folderPath, nullptr, DELETE, &why);
    if (folder.Valid() && winfiles::DeleteByHandle(folder.Get())) {
        done->Lines.push_back(Narrow(folderPath) + " removed");
        done->Changed = true;
        return true;
    }
    DWORD error = folder.Valid() ? ::GetLastError() : ERROR_SUCCESS;
    done->Lines.push_back(Narrow(folderPath) + " kept: " +
                          (!folder.Valid()                ? why
                           : error == ERROR_DIR_NOT_EMPTY ? std::string("it holds other files")
                                                          : "it cannot be removed (" + Error(error) + ")"));
    return true;
}

void WindowsDeploySystem::Warn(const std::string& line)
{
    std::string text = line + "\n";
    (void)winconsole::WriteError(text.data(), text.size());
}
