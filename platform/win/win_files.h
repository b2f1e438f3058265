// Files and folders the companion programs write on Windows, reached only by
// handles that were checked not to lead through a link: the deployment's log
// and installed programs, the pre-flight's saved snapshot. Not part of the
// platform boundary, which the tool's core calls; the companions call these
// directly. Include it after the tool's own headers, as <windows.h>.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <string>
#include <utility>
#include <vector>

namespace winfiles {

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
    // Gives the handle up, to be closed by its new holder.
    HANDLE Release()
    {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

// A path or a system text for a message: UTF-8, control characters escaped.
std::string Narrow(const std::wstring& text);

// The system's text for an error code, on one line; "" when it has none.
std::string SystemText(DWORD error);

// "error 5 (Access is denied.)", for a reason in a message.
std::string Error(DWORD error);

// The path Windows reached by the handle, with the "\\?\" it puts before it
// left out: a link or junction anywhere on the way leads it elsewhere.
std::wstring FinalPath(HANDLE handle);

// A path without the "\\?\" or "\\?\UNC\" that lets it be longer than
// MAX_PATH, as FinalPath answers it.
std::wstring WithoutPrefix(const std::wstring& path);

// Whether two paths name the same place, compared as the file system does,
// without regard to case.
bool SamePath(const std::wstring& first, const std::wstring& second);

// Whether what a handle is open on, of the attributes given, is a link: a
// reparse point whose tag stands for another name (a symbolic link, a
// junction, a mount point), or whose tag cannot be read. Other reparse points
// (a OneDrive placeholder, a deduplicated or compressed file) hold their own
// data where they stand and are not links.
bool IsLink(HANDLE handle, DWORD attributes);

// Refuses, by its path, what Windows shows as a link there; Wine shows a link
// to a folder only this way. The phrase follows the path in a message.
bool CheckPath(const std::wstring& path, std::string* problem);

// Writes all of bytes at the file's position.
bool WriteAll(HANDLE file, const std::string& bytes);

// Reads a whole file from its start; false, with the last error set, when it
// cannot (ERROR_FILE_TOO_LARGE for a file of more than maxBytes).
bool ReadAll(HANDLE file, long long maxBytes, std::string* bytes);

// Marks a file that a handle with DELETE access is open on for removal when
// the handle closes. Where the file system can, its name goes then too,
// though other handles are still open on it (one that only reads its
// attributes, which any account allowed to may hold): else the name stays
// until the last of them closes, and nothing of that name can be made until
// then.
bool DeleteByHandle(HANDLE file);

// Renames the file a handle with DELETE access is open on to path, replacing
// what is there; with a folder's handle, path is a name in that folder,
// wherever its path may lead by then.
bool RenameByHandle(HANDLE file, const std::wstring& path, HANDLE folder = nullptr);

// Makes a new file of that name in the folder a handle with FILE_ADD_FILE
// access is open on, wherever the folder's path may lead by then, shared with
// no one and with the access asked (and SYNCHRONIZE, for plain reads and
// writes); INVALID_HANDLE_VALUE, with the last error set, when it cannot
// (ERROR_ALREADY_EXISTS when the name is taken).
HANDLE CreateNewIn(HANDLE folder, const std::wstring& name, DWORD access);

// The TOKEN_USER of the account the process runs as; empty when it cannot
// be read.
std::vector<BYTE> ProcessUser();

// An account's name, "DOMAIN\name", or its SID as text when it has none.
std::string AccountName(PSID sid);

// Whether the object a handle is open on (with READ_CONTROL) is owned by
// Administrators or SYSTEM, or, where ownAccount allows it, by this
// process's own account, which no other account can make itself; if not,
// says whose it is ("belongs to ...") in problem.
bool TrustedOwner(HANDLE handle, SE_OBJECT_TYPE type, bool ownAccount, std::string* problem);

} // namespace winfiles
