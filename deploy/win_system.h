// The deployment's own work on Windows (see DeploySystem): the log in
// %SystemRoot%\Logs\Tessary and the programs installed in
// %ProgramFiles%\Tessary, both written only in folders and files that no
// other account can have planted a link in.
#pragma once

#include <string>

#include "deploy/deploy.h"

// The machine's one deployment at a time: a named mutex in the Global
// namespace, held for a deployment's whole run.
constexpr const wchar_t* RUN_LOCK_NAME = L"Global\\Tessary";

// Its security: owned by Administrators, whichever of them or SYSTEM makes
// it, so that each can open it after the other; SYSTEM and Administrators may
// do anything with it, everyone else only read whose it is (the check looks
// for it, run by any user). Not wait on it: an account that may wait may
// also take it once a deployment lets it go, and keep it, and every later
// deployment, and every recovery, would then wait in vain.
constexpr const wchar_t* RUN_LOCK_SECURITY = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)(A;;RC;;;WD)";

// How long a deployment waits for another to let the machine's one run go.
constexpr unsigned long RUN_LOCK_WAIT_MILLISECONDS = 60 * 1000;

// Where a log ended after a write: which file (its volume and index) and
// its size. The rest of an entry follows its start directly only while the
// log still ends there.
struct LogEnd {
    unsigned long long Volume = 0;
    unsigned long long File = 0;
    unsigned long long Size = 0;

    bool operator==(const LogEnd& other) const
    {
        return Volume == other.Volume && File == other.File && Size == other.Size;
    }
};

class WindowsDeploySystem : public DeploySystem {
public:
    // preflightDigest: the Authenticode SHA-256 digest, in hexadecimal, that
    // the tessary-preflight.exe beside this program must have to be installed
    // (see deploy/image_digest.h). lockWait: how long LockRun waits.
    //
    // Reads the program's own file at once, made first thing in wmain:
    // Windows lets a running program's file be renamed and another put at
    // its name, so the copy /a installs, and the file /d knows as the one
    // running, are taken before the wait for another deployment and the
    // recovery, not from whatever the name holds by then.
    explicit WindowsDeploySystem(std::string preflightDigest, unsigned long lockWait = RUN_LOCK_WAIT_MILLISECONDS);
    WindowsDeploySystem(const WindowsDeploySystem&) = delete;
    WindowsDeploySystem& operator=(const WindowsDeploySystem&) = delete;
    ~WindowsDeploySystem() override;

    // The machine-wide named mutex Global\Tessary: taken, or after a wait.
    RunLock LockRun(std::string* problem) override;
    std::string UtcTime() override;
    std::string UserName() override;
    std::string ErrorText(platform::DWORD error) override;
    bool AppendToLog(const std::string& entry, const std::string& resumed, std::string* problem) override;
    bool PlacePrograms(ProgramsDone* done, std::string* problem) override;
    bool RemovePrograms(ProgramsDone* done, std::string* problem) override;
    void Warn(const std::string& line) override;

private:
    std::string preflightDigest_;
    unsigned long lockWait_;
    std::wstring programPath_;   // the file this program was started from
    std::string programBytes_;   // its content as it started, or
    std::string programProblem_; // why that could not be read
    void* running_ = nullptr;    // held open on it (for its identity) while not null
    void* mutex_ = nullptr;      // held while not null
    LogEnd logEnd_;              // where this run's last write left the log
};

// Whether an object found under the lock's name, open with READ_CONTROL, is a
// deployment's; if not, says whose it is in problem.
bool MadeByDeployment(void* mutex, std::string* problem);

// What holds Global\Tessary now, for the check, which does not take it.
enum class DeploymentNow {
    None,
    Running, // a deployment holds it or waits for it
    Blocked, // an object no deployment made holds the name (problem says
             // whose), and no deployment runs while it stands
};
DeploymentNow CurrentDeployment(std::string* problem);

// The log is kept to about this size; the entries before go to one older file.
constexpr unsigned long long MAX_LOG_BYTES = 1024ULL * 1024;

// How long a run waits for the log while another process holds it open
// without sharing (another deployment writing its entry): tries, and the
// pause after each.
constexpr int LOG_SHARED_TRIES = 50;
constexpr unsigned long LOG_SHARED_WAIT_MILLISECONDS = 100;
