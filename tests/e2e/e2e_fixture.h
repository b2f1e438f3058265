// What the end-to-end tests share: a work folder of its own for each test,
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "machine_file/machine_file.h"
#include "tests/e2e/run_program.h"
#include "tests/support/machines.h"

namespace e2e {

namespace fs = std::filesystem;

const std::string BANNER = "Tessary Tool...\n";
const std::string KEY =
    "Full Driver Key=SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";

inline std::string ReadFile(const fs::path& path)
{
    return ReadWholeFile(path.string());
}

inline void WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A machine file's text for a machine the tests' helper built, so that its
// devices have every property the scan reads.
inline std::string MachineText(const simulator::Machine& machine)
{
    return simulator::MachineDocument(machine, "").dump(2) + "\n";
}

// One Corvane adapter on PCI, and its driver key, which /a edits.
inline std::string AdapterMachineText()
{
    return MachineText(testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless")}));
}

// A run that went as a run should: status 0 and nothing on standard error,
// where valgrind and the double's own checks ("misuse:", "left open:") speak.
inline ::testing::AssertionResult Clean(const ProgramResult& result)
{
    if (result.Status == 0 && result.Errors.empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "status " << result.Status << ", standard error: " << result.Errors;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::path(TESSARY_E2E_WORK_DIR) / test->name();
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }

    fs::path Path(const std::string& name) const { return folder_ / name; }

    fs::path folder_;
};

} // namespace e2e
