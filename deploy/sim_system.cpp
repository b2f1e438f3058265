#include "deploy/sim_system.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr const char* INSTALLED = "C:\\Program Files\\Tessary\\";

} // namespace

RunLock SimulatedDeploySystem::LockRun(std::string* /*problem*/)
{
    return RunLock::Acquired; // one process runs on a machine file at a time
}

std::string SimulatedDeploySystem::UtcTime()
{
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc = {};
#if defined(_WIN32)
    (void)gmtime_s(&utc, &now);
#else
    (void)gmtime_r(&now, &utc);
#endif
    char text[32];
    (void)std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string SimulatedDeploySystem::UserName()
{
    return "the simulated machine's administrator";
}

std::string SimulatedDeploySystem::ErrorText(platform::DWORD /*error*/)
{
    return ""; // the system's texts are Windows'
}

bool SimulatedDeploySystem::AppendToLog(const std::string& entry, const std::string& /*resumed*/, std::string* problem)
{
    // One run at a time on a machine file, and no other deployment to find
    // running: nothing comes between an entry's start and its rest.
    const char* path = std::getenv("TESSARY_SIM_LOG");
    if (path == nullptr || *path == 0) {
        (void)std::fputs(entry.c_str(), stderr);
        return true;
    }
    std::FILE* log = std::fopen(path, "ab");
    bool written = log != nullptr && std::fputs(entry.c_str(), log) >= 0;
    if (log != nullptr && std::fclose(log) != 0) {
        written = false;
    }
    if (!written) {
        *problem = std::string(path) + " cannot be written (" + std::strerror(errno) + ")";
    }
    return written;
}

bool SimulatedDeploySystem::PlacePrograms(ProgramsDone* done, std::string* /*problem*/)
{
    for (const char* name : {"tessary-preflight.exe", "tessary-deploy.exe"}) {
        done->Lines.push_back(std::string(INSTALLED) + name +
                              " would be placed (the simulated platform installs nothing)");
    }
    return true;
}

bool SimulatedDeploySystem::RemovePrograms(ProgramsDone* done, std::string* /*problem*/)
{
    for (const char* name : {"tessary-preflight.exe", "tessary-deploy.exe"}) {
        done->Lines.push_back(std::string(INSTALLED) + name +
                              " would be removed (the simulated platform installs nothing)");
    }
    return true;
}

void SimulatedDeploySystem::Warn(const std::string& line)
{
    (void)std::fprintf(stderr, "%s\n", line.c_str());
}
