// tessary-deploy: the tool run for management systems, which judge a run by
// its exit code alone. It acts only where the setting is not yet as wanted and
// a run can change it, runs exactly what tessary.exe runs, judges the machine
// afterwards, logs the run and places (or removes) the installed programs.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// What asking for the one run at a time came to.
enum class RunLock {
    Acquired,
    Abandoned, // acquired from a run that ended without letting it go: interrupted
    Busy,      // another run held it throughout the wait
    Untrusted, // its name is taken by an object no deployment made, or it cannot be
               // opened or waited for: nothing is done
};

// What placing or removing the installed programs did: a line for the log
// for each program, and whether any file was written or removed.
struct ProgramsDone {
    std::vector<std::string> Lines;
    bool Changed = false;
};

// The deployment's own work on Windows, beside the tool's: the one run at a
// time, the log, the installed programs, and what an entry of the log names.
class DeploySystem {
public:
    DeploySystem() = default;
    DeploySystem(const DeploySystem&) = delete;
    DeploySystem& operator=(const DeploySystem&) = delete;
    virtual ~DeploySystem() = default;

    // Waits for the machine's one run at a time, and holds it until this
    // object goes; for Untrusted, says why in problem.
    virtual RunLock LockRun(std::string* problem) = 0;
    // The time now, in UTC, as ISO 8601: "2026-12-07T19:17:36Z".
    virtual std::string UtcTime() = 0;
    // The account the process runs as: "NT AUTHORITY\SYSTEM".
    virtual std::string UserName() = 0;
    // The system's message text for a Windows error code, on one line; ""
    // when it has none.
    virtual std::string ErrorText(platform::DWORD error) = 0;
    // Appends an entry (lines ending in "\n") to the log, flushed to disk
    // before it answers; false, with the reason, when it could not write it.
    // resumed: "" for an entry's start, or a whole entry; for the rest of an
    // entry this run began, the line that names the run again. The rest goes
    // to the same file as its start (a full log is set aside only before an
    // entry begins), after that line when the log no longer ends where this
    // run left it: a run that found another deployment running, or another
    // account's writing, may have come between, and the rest would read as
    // theirs.
    virtual bool AppendToLog(const std::string& entry, const std::string& resumed, std::string* problem) = 0;
    // Places the installed programs, from verified copies, before any adapter
    // is touched but to recover it; one line for the log in done for each
    // program (placed, updated or left as it was). False, with the reason,
    // when it could not, having changed nothing that a later run could not
    // put right.
    virtual bool PlacePrograms(ProgramsDone* done, std::string* problem) = 0;
    // Removes the installed programs; one line in done for each (removed, or
    // to be removed at the next restart). False, with the reason, when it
    // could not.
    virtual bool RemovePrograms(ProgramsDone* done, std::string* problem) = 0;
    // One line on standard error.
    virtual void Warn(const std::string& line) = 0;
};

// For the log's lines: a Windows error code with the system's text for it,
// "5 (Access is denied.)" (a Configuration Manager code is written by
// ConfigurationCode, in common/text_format.h).
std::string WithText(platform::DWORD error, DeploySystem* system);

// Runs the deployment for the command line (argv[1]: /a or /d, judged as
// tessary.exe judges it) and answers the exit code (see deploy/outcome.h);
// USAGE, with the usage on standard output, for any other command
// line. Prints the tool's lines, then one line of its own with the outcome.
// Logs the run when the process is elevated, a mistyped command too.
int RunDeploy(int argc, const platform::WCHAR* const* argv, DeploySystem* system);
