#include "preflight/win_save.h"

#include "platform/win/win_files.h"

using winfiles::Error;
using winfiles::Handle;
using winfiles::Narrow;

namespace {

std::wstring FullPath(const std::wstring& path)
{
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    DWORD length = size == 0 ? 0 : ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return full;
}

// A folder's path with its short (8.3) parts spelled out, as the file system
// reports where a handle is open; the path itself when that cannot be had.
std::wstring LongPath(const std::wstring& path)
{
    DWORD size = ::GetLongPathNameW(path.c_str(), nullptr, 0);
    std::wstring spelled(size, L'\0');
    DWORD length = size == 0 ? 0 : ::GetLongPathNameW(path.c_str(), spelled.data(), size);
    return length > 0 && length < size ? spelled.substr(0, length) : path;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name)
{
    return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// Checks a file of the name that is already there, which the new content
// replaces.
bool CheckReplaced(const std::wstring& path, std::string* problem)
{
    Handle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        *problem = "cannot be examined (" + Error(error) + ")";
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(file.Get(), &info)) {
        *problem = "cannot be examined (" + Error(::GetLastError()) + ")";
        return false;
    }
    if (winfiles::IsLink(file.Get(), info.dwFileAttributes) || !winfiles::CheckPath(path, problem)) {
        *problem = "is a link; give the file it leads to, or another name";
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *problem = "is a folder";
        return false;
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        *problem = "is not a file on a disk (a device or a pipe)";
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        *problem = "is read-only; clear its read-only attribute or use another name";
        return false;
    }
    if (info.nNumberOfLinks > 1) {
        *problem = "has " + std::to_string(info.nNumberOfLinks) +
                   " names (hard links), which writing it whole would split; use a copy";
        return false;
    }
    return true;
}

} // namespace

bool SnapshotFile::Open(const std::wstring& path, std::string* problem)
{
    std::wstring full = FullPath(path);
    std::size_t slash = full.find_last_of(L'\\');
    if (full.empty() || slash == std::wstring::npos || slash + 1 == full.size()) {
        *problem = full.empty() ? "is not a path to a file (" + Error(::GetLastError()) + ")"
                                : std::string("is not a path to a file");
        return false;
    }
    name_ = full.substr(slash + 1);
    // A drive's root keeps its backslash: "C:" alone is the drive's current
    // folder, and "\\?\C:" the volume itself.
    std::wstring given = full.substr(0, slash);
    if (!given.empty() && given.back() == L':') {
        given += L'\\';
    }
    folderPath_ = LongPath(given);
    // Held without sharing delete: the folder, and every folder above it,
    // cannot be renamed or removed while it is open; the file is renamed
    // into it through this handle.
    Handle folder(::CreateFileW(folderPath_.c_str(), FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!folder.Valid() || !::GetFileInformationByHandle(folder.Get(), &info)) {
        *problem = "its folder " + Narrow(given) + " cannot be opened (" + Error(::GetLastError()) + ")";
        return false;
    }
    std::string reason;
    if (winfiles::IsLink(folder.Get(), info.dwFileAttributes) || !winfiles::CheckPath(folderPath_, &reason)) {
        *problem = "its folder " + Narrow(given) + " is a link or a junction; give the folder it leads to";
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *problem = "its folder " + Narrow(given) + " is a file, not a folder";
        return false;
    }
    // A path the system cannot give (a share that will not show a folder
    // above it to this account, say) is said as such, not as a link.
    std::wstring reached = winfiles::FinalPath(folder.Get());
    if (reached.empty()) {
        *problem = "its folder " + Narrow(given) + " cannot be followed to its final path (" + Error(::GetLastError()) +
                   "); give another folder";
        return false;
    }
    if (!winfiles::SamePath(reached, winfiles::WithoutPrefix(folderPath_))) {
        *problem = "its folder " + Narrow(given) +
                   " is reached through a link, a junction or a drive that stands for another folder or a share "
                   "(it leads to " +
                   Narrow(reached) + "); give that path";
        return false;
    }
    if (!CheckReplaced(Joined(folderPath_, name_), problem)) {
        return false;
    }
    folder_ = folder.Release();
    return true;
}

SnapshotFile::~SnapshotFile()
{
    if (folder_ != nullptr) {
        ::CloseHandle(folder_);
    }
}

bool SnapshotFile::Write(const std::string& bytes, std::string* problem)
{
    if (folder_ == nullptr) {
        *problem = "its folder was not opened";
        return false;
    }
    std::wstring path = Joined(folderPath_, name_);
    // The temporary name begins with at most the first 100 units of the
    // file's, not ending in half a pair, so that it stays within a name's
    // 255 units whenever the file's does.
    std::wstring base = name_.substr(0, 100);
    if (base.size() < name_.size() && !base.empty() && IS_HIGH_SURROGATE(base.back())) {
        base.pop_back();
    }
    std::wstring temporaryName =
        L"." + base + L".tmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64());
    std::wstring temporary = Joined(folderPath_, temporaryName);
    // The folder and the file are checked again, now that the snapshot is
    // taken: an empty folder may have been made a junction meanwhile, and
    // the file made or changed. (Whatever the folder's path leads to later,
    // the new file is made, and renamed, in the folder held open.)
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(folder_, &info) || winfiles::IsLink(folder_, info.dwFileAttributes)) {
        *problem = "its folder became a link or a junction while the snapshot was taken";
        return false;
    }
    if (!CheckReplaced(path, problem)) {
        return false;
    }
    Handle file(winfiles::CreateNewIn(folder_, temporaryName, GENERIC_WRITE | DELETE));
    if (!file.Valid()) {
        *problem = "cannot make a new file beside it, " + Narrow(temporary) + " (" + Error(::GetLastError()) + ")";
        return false;
    }
    if (!winfiles::WriteAll(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) {
        *problem = "cannot write " + Narrow(temporary) + " (" + Error(::GetLastError()) + ")";
        (void)winfiles::DeleteByHandle(file.Get());
        return false;
    }
    if (!winfiles::RenameByHandle(file.Get(), name_, folder_)) {
        *problem = "cannot rename " + Narrow(temporary) + " to it (" + Error(::GetLastError()) + ")";
        (void)winfiles::DeleteByHandle(file.Get());
        return false;
    }
    return true;
}
