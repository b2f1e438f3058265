// The deployment's own work on Windows (see DeploySystem): the log in
// %SystemRoot%\Logs\Tessary and the programs installed in
// %ProgramFiles%\Tessary, both written only in folders and files that no
// other account can have planted a link in.
#pragma once

#include <string>

#include "deploy/deploy.h"

class WindowsDeploySystem : public DeploySystem {
public:
    // preflightDigest: the Authenticode SHA-256 digest, in hexadecimal, that
    // the tessary-preflight.exe beside this program must have to be installed
    // (see deploy/image_digest.h).
    explicit WindowsDeploySystem(std::string preflightDigest) : preflightDigest_(std::move(preflightDigest)) {}

    std::string UtcTime() override;
    std::string UserName() override;
    std::string ErrorText(platform::DWORD error) override;
    bool AppendToLog(const std::string& entry, std::string* problem) override;
    bool PlacePrograms(std::vector<std::string>* done, std::string* problem) override;
    bool RemovePrograms(std::vector<std::string>* done, std::string* problem) override;
    void Warn(const std::string& line) override;

private:
    std::string preflightDigest_;
};

// The log is kept to about this size; the entries before go to one older file.
constexpr unsigned long long MAX_LOG_BYTES = 1024 * 1024;
