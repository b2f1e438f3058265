#include "machine_file/files.h"

#include "machine_file/json_document.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace simulator {

namespace {

std::string Reason(int error)
{
    return error != 0 ? std::strerror(error) : "unknown error";
}

// A path given in UTF-8, whatever the system's own encoding of paths.
fs::path PathOf(const std::string& utf8)
{
    return fs::u8path(utf8);
}

// Where a file made at path would be, as one absolute spelling: through
// symbolic links, a dangling one at its end too.
fs::path WhereItLeads(fs::path path, std::error_code* failure)
{
    path = fs::absolute(path, *failure);
    // As many links in a row as Linux follows; a path that names nothing is
    // no link, not a failure.
    std::error_code absent;
    for (int links = 0; !*failure && links < 40 && fs::is_symlink(fs::symlink_status(path, absent)); ++links) {
        fs::path target = fs::read_symlink(path, *failure);
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return *failure ? path : fs::weakly_canonical(path, *failure);
}

bool IsLink(const fs::path& path)
{
    std::error_code failure;
    return fs::is_symlink(fs::symlink_status(path, failure));
}

// The file a path names, through any symbolic links, or, through a link to
// a file not made yet, the one it would name once made; the path itself
// where it names nothing yet, or where it is a link that cannot be followed
// (then unfollowed, when given, says why).
fs::path Target(const std::string& path, std::error_code* unfollowed = nullptr)
{
    std::error_code failure;
    fs::path target = fs::canonical(PathOf(path), failure);
    if (failure && IsLink(PathOf(path))) {
        target = WhereItLeads(PathOf(path), &failure);
        if (failure && unfollowed != nullptr) {
            *unfollowed = failure;
        }
    }
    return failure ? PathOf(path) : target;
}

fs::path Folder(const fs::path& file)
{
    fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// A new, empty file beside target, of a name no other file has; answers its
// descriptor, or -1 with errno set.
int MakeTemporaryFile(const fs::path& target, fs::path* name)
{
    // Its name begins with at most the first 100 bytes of the target's, cut
    // between characters, so that it stays a name the system takes (255
    // bytes on Linux, 255 UTF-16 units on Windows) whenever the target's is.
    std::string base = target.filename().u8string();
    std::size_t kept = std::min<std::size_t>(base.size(), 100);
    while (kept > 0 && kept < base.size() && (static_cast<unsigned char>(base[kept]) & 0xC0) == 0x80) {
        --kept;
    }
    fs::path stem = Folder(target) / PathOf("." + base.substr(0, kept) + ".tmp-");
#if defined(_WIN32)
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = stem;
        *name += std::to_string(_getpid()) + "-" + std::to_string(++counter);
        int descriptor = _wopen(name->c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (descriptor >= 0 || errno != EEXIST) {
            return descriptor;
        }
    }
    return -1;
#else
    std::string pattern = stem.string() + "XXXXXX";
    int descriptor = mkstemp(pattern.data());
    *name = pattern;
    return descriptor;
#endif
}

// Gives the new file the old one's permissions and, where the process may,
// its owner and group; a file made anew gets what the process's umask allows.
bool KeepAttributes(int descriptor, const fs::path& target)
{
#if defined(_WIN32)
    // A file's only permission here is its read-only attribute, and a
    // read-only file is never replaced: the new file, writable, matches.
    (void)descriptor;
    (void)target;
    return true;
#else
    struct stat old = {};
    if (stat(target.c_str(), &old) != 0) {
        mode_t mask = umask(0);
        umask(mask);
        return fchmod(descriptor, 0666 & ~mask) == 0;
    }
    if (fchmod(descriptor, old.st_mode & 07777) != 0) {
        return false;
    }
    // Only a privileged process may give a file away; anyone may keep the
    // group when they belong to it. What is not allowed is left as it is.
    if (fchown(descriptor, old.st_uid, old.st_gid) != 0 &&
        fchown(descriptor, static_cast<uid_t>(-1), old.st_gid) != 0) {
        errno = 0;
    }
    // The permissions again: a change of owner may clear set-id bits.
    return fchmod(descriptor, old.st_mode & 07777) == 0;
#endif
}

bool SyncAndClose(int descriptor)
{
#if defined(_WIN32)
    bool synced = _commit(descriptor) == 0;
    return _close(descriptor) == 0 && synced;
#else
    bool synced = fsync(descriptor) == 0;
    return close(descriptor) == 0 && synced;
#endif
}

// Flushes a folder's entries to disk, so that a rename in it survives a crash.
void SyncFolder(const fs::path& folder)
{
#if !defined(_WIN32)
    int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        (void)fsync(descriptor);
        (void)close(descriptor);
    }
#else
    (void)folder;
#endif
}

} // namespace

std::string QuotedPath(const std::string& path)
{
    return "'" + Shown(path, 200) + "'";
}

bool ReadWholeFile(const std::string& path, std::uintmax_t maxBytes, std::string* text, std::string* error)
{
    std::error_code failure;
    fs::file_status status = fs::status(PathOf(path), failure);
    if (failure || !fs::exists(status)) {
        *error = "cannot be read: " + (failure ? failure.message() : Reason(ENOENT));
        return false;
    }
    if (fs::is_directory(status)) {
        *error = "is a directory, not a machine file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        *error = "is not a regular file (a device, a pipe or a socket); give a machine file";
        return false;
    }
    std::uintmax_t size = fs::file_size(PathOf(path), failure);
    if (failure) {
        *error = "cannot be read: " + failure.message();
        return false;
    }
    if (size > maxBytes) {
        *error = "is " + std::to_string(size) + " bytes, more than the " + std::to_string(maxBytes) +
                 " a machine file may have";
        return false;
    }
    errno = 0;
    std::ifstream stream(PathOf(path), std::ios::binary);
    if (!stream) {
        *error = "cannot be read: " + Reason(errno);
        return false;
    }
    // One byte more than allowed shows a file that grew since it was measured.
    text->assign(static_cast<std::size_t>(size) + 1, '\0');
    stream.read(text->data(), static_cast<std::streamsize>(text->size()));
    auto read = static_cast<std::size_t>(stream.gcount());
    if (stream.bad()) {
        *error = "cannot be read: " + Reason(errno);
        return false;
    }
    if (read > maxBytes) {
        *error = "grew past the " + std::to_string(maxBytes) + " bytes a machine file may have while it was read";
        return false;
    }
    text->resize(read);
    return true;
}

bool CanReplaceFile(const std::string& path, std::string* error)
{
    std::error_code failure;
    fs::path target = Target(path, &failure);
    if (failure) {
        *error = "is a symbolic link that cannot be followed to a file (" + failure.message() + ")";
        return false;
    }
    fs::file_status status = fs::status(target, failure);
    if (!failure && fs::exists(status)) {
        if (!fs::is_regular_file(status)) {
            *error =
                fs::is_directory(status) ? "is a directory" : "is not a regular file (a device, a pipe or a socket)";
            return false;
        }
        std::uintmax_t names = fs::hard_link_count(target, failure);
        if (!failure && names > 1) {
            *error =
                "has " + std::to_string(names) + " names (hard links), which writing it whole would split; use a copy";
            return false;
        }
        if ((status.permissions() & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) ==
            fs::perms::none) {
            *error = "is read-only (no write permission is set); make it writable (chmod u+w) or use another file";
            return false;
        }
    }
    fs::path folder = Folder(target);
    if (!fs::is_directory(folder, failure)) {
        *error = "its folder " + QuotedPath(folder.u8string()) + " does not exist";
        return false;
    }
#if !defined(_WIN32)
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        *error = "its folder " + QuotedPath(folder.u8string()) + " does not let a new file be made in it (" +
                 Reason(errno) + ")";
        return false;
    }
    // The new content is written under a shorter name and renamed to this
    // one, which the folder must take.
    long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest > 0 && target.filename().native().size() > static_cast<std::size_t>(longest)) {
        *error = "its name is longer than the " + std::to_string(longest) + " bytes a name may have in its folder";
        return false;
    }
    // In a sticky folder (as /tmp is), only the file's owner, the folder's
    // or root may replace a file.
    struct stat file = {};
    struct stat place = {};
    uid_t user = geteuid();
    if (stat(target.c_str(), &file) == 0 && stat(folder.c_str(), &place) == 0 && (place.st_mode & S_ISVTX) != 0 &&
        user != 0 && file.st_uid != user && place.st_uid != user) {
        *error = "is another user's, in a folder where only a file's owner may replace it (sticky, as /tmp is); "
                 "use a copy of your own";
        return false;
    }
#endif
    return true;
}

bool IsTrackedInCheckout(const std::string& root, const std::string& path)
{
#if defined(_WIN32)
    (void)root;
    (void)path;
    return false;
#else
    std::error_code failure;
    fs::path top = fs::canonical(PathOf(root), failure);
    fs::path file = failure ? fs::path() : WhereItLeads(PathOf(path), &failure);
    fs::path inside = failure ? fs::path() : file.lexically_relative(top);
    if (inside.empty() || *inside.begin() == "..") {
        return false;
    }
    // git is run with its arguments as they are, no shell between, and says
    // nothing: its exit status alone tells whether the file is tracked.
    std::string topText = top.string();
    std::string insideText = inside.string();
    // The checkout may belong to another account (a build as root of a
    // developer's tree): git would refuse to answer for it, as if nothing
    // were tracked, unless told the folder is safe. Its configuration is
    // then that account's, so nothing it names is run: no file-system
    // monitor.
    std::string safe = "safe.directory=" + topText;
    std::vector<char*> arguments = {const_cast<char*>("git"),
                                    const_cast<char*>("-c"),
                                    safe.data(),
                                    const_cast<char*>("-c"),
                                    const_cast<char*>("core.fsmonitor=false"),
                                    const_cast<char*>("-C"),
                                    topText.data(),
                                    const_cast<char*>("ls-files"),
                                    const_cast<char*>("--error-unmatch"),
                                    const_cast<char*>("--"),
                                    insideText.data(),
                                    nullptr};
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        (void)posix_spawn_file_actions_addopen(&actions, descriptor, "/dev/null", O_RDWR, 0);
    }
    pid_t child = 0;
    int spawned = posix_spawnp(&child, "git", &actions, nullptr, arguments.data(), environ);
    (void)posix_spawn_file_actions_destroy(&actions);
    // A wait that fails (SIGCHLD ignored, say) tells nothing: not tracked.
    int status = 0;
    pid_t waited = -1;
    while (spawned == 0 && (waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    return spawned == 0 && waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    std::error_code failure;
    bool same = fs::equivalent(PathOf(first), PathOf(second), failure);
    if (!failure) {
        return same;
    }
    // One of them is not there yet: the one a run makes would be the other
    // where both lead to one place.
    fs::path one = WhereItLeads(PathOf(first), &failure);
    if (failure) {
        return false;
    }
    fs::path other = WhereItLeads(PathOf(second), &failure);
    return !failure && one == other;
}

bool PrepareReplacement(const std::string& path, const std::function<bool(std::ostream&)>& write,
                        PreparedReplacement* prepared, std::string* error)
{
    prepared->Target = Target(path);
    prepared->Temporary.clear();
    fs::path temporary;
    errno = 0;
    int descriptor = MakeTemporaryFile(prepared->Target, &temporary);
    if (descriptor < 0) {
        *error = "cannot make a new file beside it in " + QuotedPath(Folder(prepared->Target).u8string()) + ": " +
                 Reason(errno);
        return false;
    }
    // The content goes through a stream of its own on the new file; the
    // descriptor that made it keeps it and then flushes it to disk.
    errno = 0;
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    bool written = stream.is_open() && write(stream);
    stream.close();
    written = written && !stream.fail();
    int writeError = errno;
    bool kept = written && KeepAttributes(descriptor, prepared->Target);
    int keepError = errno;
    bool closed = SyncAndClose(descriptor);
    if (!written || !kept || !closed) {
        *error = "cannot write " + QuotedPath(temporary.u8string()) + ": " +
                 Reason(!written ? writeError
                        : !kept  ? keepError
                                 : errno);
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    prepared->Temporary = temporary;
    return true;
}

bool CommitReplacement(PreparedReplacement* prepared, std::string* error)
{
    std::error_code failure;
    fs::rename(prepared->Temporary, prepared->Target, failure);
    if (failure) {
        *error = "cannot rename " + QuotedPath(prepared->Temporary.u8string()) + " to it: " + failure.message();
        AbandonReplacement(prepared);
        return false;
    }
    prepared->Temporary.clear();
    SyncFolder(Folder(prepared->Target));
    return true;
}

PreparedReplacement::~PreparedReplacement()
{
    AbandonReplacement(this);
}

void AbandonReplacement(PreparedReplacement* prepared)
{
    if (!prepared->Temporary.empty()) {
        std::error_code ignored;
        fs::remove(prepared->Temporary, ignored);
        prepared->Temporary.clear();
    }
}

bool ReplaceFileAtomically(const std::string& path, const std::function<bool(std::ostream&)>& write, std::string* error)
{
    PreparedReplacement prepared;
    return PrepareReplacement(path, write, &prepared, error) && CommitReplacement(&prepared, error);
}

} // namespace simulator
