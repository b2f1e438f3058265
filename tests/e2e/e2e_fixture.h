// What the end-to-end tests share: a work folder of its own for each test,
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/run_program.h"

namespace e2e {

namespace fs = std::filesystem;

const std::string BANNER = "Tessary Tool...\n";
const std::string KEY =
    "Full Driver Key=SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";

inline std::string ReadFile(const fs::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
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
