// The deployment's own work on Windows (see DeploySystem): the log in
// %SystemRoot%\Logs\Tessary and the check installed in
// %ProgramFiles%\Tessary, both written only in folders and files that no
// other account can have planted a link in.
#pragma once

#include "deploy/deploy.h"

class WindowsDeploySystem : public DeploySystem {
public:
    std::string UtcTime() override;
    std::string UserName() override;
    std::string ErrorText(platform::DWORD error) override;
    bool AppendToLog(const std::string& entry, std::string* problem) override;
    bool InstallCheck(bool install, std::string* problem) override;
    void Warn(const std::string& line) override;
};

// The log is kept to about this size; the entries before go to one older file.
constexpr unsigned long long MAX_LOG_BYTES = 1024 * 1024;
