#include "platform/sim/sim_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace simulator {

namespace {

std::string Reason()
{
    return errno != 0 ? std::strerror(errno) : "unknown error";
}

// Writes the bytes and flushes them to the disk.
bool WriteAndSync(const std::string& path, const std::string& text)
{
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
#if defined(_WIN32)
    written = written && _commit(_fileno(stream)) == 0;
#else
    written = written && fsync(fileno(stream)) == 0;
#endif
    return std::fclose(stream) == 0 && written;
}

int ProcessId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string* text, std::string* error)
{
    errno = 0;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        *error = "cannot be read: " + Reason();
        return false;
    }
    std::ostringstream content;
    content << stream.rdbuf();
    if (stream.bad()) {
        *error = "cannot be read: " + Reason();
        return false;
    }
    *text = content.str();
    return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string* error)
{
    std::string temporary = path + ".tmp-" + std::to_string(ProcessId());
    errno = 0;
    if (!WriteAndSync(temporary, text)) {
        *error = "cannot write '" + temporary + "': " + Reason();
        (void)std::remove(temporary.c_str());
        return false;
    }
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        *error = "cannot rename '" + temporary + "' to it: " + failure.message();
        (void)std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace simulator
