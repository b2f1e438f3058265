#include "tests/e2e/run_program.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

namespace {

std::string Quote(const std::string& text)
{
#if defined(_WIN32)
    return "\"" + text + "\"";
#else
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
#endif
}

void SetVariable(const char* name, const std::string& value)
{
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
#endif
}

} // namespace

ProgramResult RunTessary(const std::vector<std::string>& arguments, const std::string& machine,
                         const std::string& trace, const std::string& workFolder)
{
    return RunProgram(TESSARY_EXE, arguments, machine, trace, workFolder);
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& machine, const std::string& trace, const std::string& workFolder)
{
    SetVariable("TESSARY_SIM_MACHINE", machine);
    SetVariable("TESSARY_SIM_TRACE", trace);
    std::string out = workFolder + "/stdout.txt";
    std::string err = workFolder + "/stderr.txt";
    // A checker to run the program under, such as valgrind, given by the
    // test's environment.
    const char* wrapper = std::getenv("TESSARY_E2E_WRAPPER");
    std::string command = wrapper != nullptr && *wrapper != 0 ? std::string(wrapper) + " " : std::string();
    command += Quote(program);
    for (const std::string& argument : arguments) {
        command += " " + Quote(argument);
    }
    command += " >" + Quote(out) + " 2>" + Quote(err);
#if defined(_WIN32)
    command = "\"" + command + "\""; // cmd.exe strips one pair of outer quotes
#endif
    // The shell gives the redirections; the command is the test's own.
    int raw = std::system(command.c_str()); // NOLINT(cert-env33-c)
    ProgramResult result;
#if defined(_WIN32)
    result.Status = raw;
#else
    result.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    result.Output = ReadWholeFile(out);
    result.Errors = ReadWholeFile(err);
#if defined(_WIN32)
    // The C runtime's text mode ends lines with CR LF on Windows. Take each
    // CR LF back to LF; a bare LF stays and fails the comparison.
    for (std::string* text : {&result.Output, &result.Errors}) {
        std::string lines;
        for (std::size_t i = 0; i < text->size(); ++i) {
            if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) {
                lines += (*text)[i];
            }
        }
        *text = lines;
    }
#endif
    SetVariable("TESSARY_SIM_MACHINE", "");
    SetVariable("TESSARY_SIM_TRACE", "");
    return result;
}
