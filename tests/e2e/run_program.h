// Running the built tessary as a separate process.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
    int Status = -1;
    std::string Output;
    std::string Errors;
};

// Runs tessary with the arguments, TESSARY_SIM_MACHINE and TESSARY_SIM_TRACE
// set to the given paths (unset when empty); its output streams are caught in
// files inside workFolder. On Windows the output's CR LF line ends are given
// back as LF. TESSARY_E2E_WRAPPER, when set, is a command line to run the
// program under (valgrind, say).
// A whole file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

ProgramResult RunTessary(const std::vector<std::string>& arguments, const std::string& machine,
                         const std::string& trace, const std::string& workFolder);

// The same for another program of the simulated platform (tessary-deploy).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& machine, const std::string& trace, const std::string& workFolder);
