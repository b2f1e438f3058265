// Deployment runs for tests: its own work on Windows stood in for, and runs
// over machines of the double, each as in a new process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "platform/sim/simulator.h"

namespace testsupport {

class FakeDeploySystem : public DeploySystem {
public:
    RunLock LockRun(std::string* problem) override
    {
        *problem = "it belongs to BUILTIN\\Users, not to Administrators or SYSTEM";
        return Lock;
    }
    std::string UtcTime() override { return "2026-12-07T10:00:00Z"; }
    std::string UserName() override { return "NT AUTHORITY\\SYSTEM"; }
    std::string ErrorText(platform::DWORD error) override { return "(text of " + std::to_string(error) + ")"; }
    bool AppendToLog(const std::string& entry, const std::string& resumed, std::string* /*problem*/) override
    {
        Log += entry;
        Appends.push_back(!resumed.empty());
        return true;
    }
    bool PlacePrograms(ProgramsDone* done, std::string* problem) override
    {
        Installed = true;
        done->Changed = InstallWorks && !ProgramsInPlace;
        done->Lines.push_back(std::string("C:\\Program Files\\Tessary\\tessary-preflight.exe ") +
                              (ProgramsInPlace ? "left as it was (already this version)" : "placed"));
        *problem = "refused";
        return InstallWorks;
    }
    bool RemovePrograms(ProgramsDone* done, std::string* problem) override
    {
        Removed = true;
        done->Changed = InstallWorks;
        done->Lines.push_back("C:\\Program Files\\Tessary\\tessary-preflight.exe removed");
        *problem = "refused";
        return InstallWorks;
    }
    void Warn(const std::string& /*line*/) override {}

    std::string Log;
    std::vector<bool> Appends; // whether each append continues an entry
    bool Installed = false;
    bool Removed = false;
    bool InstallWorks = true;
    bool ProgramsInPlace = false; // placing finds them already there
    RunLock Lock = RunLock::Acquired;
};

// Two Corvane adapters, on PCI and USB, with their driver keys.
simulator::Machine TwoAdapters();

// A journal as an interrupted run leaves it: for each entry, the driver key
// name of a network adapter (its instance, "0001") and, as REG_SZ, its
// device's instance ID.
simulator::Key JournalKey(const std::vector<std::pair<std::string, std::u16string>>& entries);
// The entries of the machine's journal; none when it has no journal.
std::vector<std::pair<std::u16string, simulator::Value>> JournalOf(const simulator::Machine& machine);
// Installs the machine and runs the deployment with the command (/a, /d), as
// a new process would: the observer's notes start afresh, and its table
// passes the calls on to the double's.
int Deploy(const simulator::Machine& machine, const char16_t* command, FakeDeploySystem* system);

// In a run of /a on a machine, the number among all status reads (as a
// fault's Nth counts them) of the which-th (from 0) read of one device's;
// or, given a property code, among all property reads, of its which-th read
// of that property.
std::uint64_t ReadOf(const simulator::Machine& machine, const char* index, std::size_t which,
                     const char* property = nullptr);

} // namespace testsupport
