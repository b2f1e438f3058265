// The deployment's own work on the simulated platform, for a dry run of a
// deployment on Linux: its log goes to the file TESSARY_SIM_LOG names, or to
// standard error; the installed programs are named, not placed; and there is
// no other deployment to wait for.
#pragma once

#include "deploy/deploy.h"

class SimulatedDeploySystem : public DeploySystem {
public:
    RunLock LockRun(std::string* problem) override;
    std::string UtcTime() override;
    std::string UserName() override;
    std::string ErrorText(platform::DWORD error) override;
    bool AppendToLog(const std::string& entry, const std::string& resumed, std::string* problem) override;
    bool PlacePrograms(ProgramsDone* done, std::string* problem) override;
    bool RemovePrograms(ProgramsDone* done, std::string* problem) override;
    void Warn(const std::string& line) override;
};
