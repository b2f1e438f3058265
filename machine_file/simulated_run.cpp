#include "machine_file/simulated_run.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "machine_file/files.h"
#include "machine_file/machine_file.h"
#include "platform/sim/simulator.h"

namespace {

// The exit status when the simulated machine, not the program, fails.
constexpr int MACHINE_FAILED = 2;

const char* programName = "tessary";

int Refuse(const std::string& message)
{
    (void)std::fprintf(stderr, "%s (simulated platform): %s\n", programName, message.c_str());
    return MACHINE_FAILED;
}

int Run(int argc, char** argv, const std::function<int(int, const platform::WCHAR* const*)>& program,
        const char* logVariable)
{
    const char* machinePath = std::getenv("TESSARY_SIM_MACHINE");
    const char* tracePath = std::getenv("TESSARY_SIM_TRACE");
    const char* logPath = logVariable != nullptr ? std::getenv(logVariable) : nullptr;
    const char* timing = std::getenv("TESSARY_SIM_TIMING");
    auto started = std::chrono::steady_clock::now();
    auto lap = [&started]() {
        auto now = std::chrono::steady_clock::now();
        double milliseconds = std::chrono::duration<double, std::milli>(now - started).count();
        started = now;
        return milliseconds;
    };
    bool fromFile = machinePath != nullptr && *machinePath != 0;

    simulator::MachineFile file;
    std::string error;
    bool loaded =
        fromFile ? simulator::LoadMachineFile(machinePath, &file, &error)
                 : simulator::LoadMachineText(simulator::DemoMachineText(), "built-in demo machine", &file, &error);
    if (!loaded) {
        return Refuse(error +
                      (fromFile ? "\nFix the file, or unset TESSARY_SIM_MACHINE to run the demo machine." : ""));
    }
    // The run's changes and its trace are written afterwards; a file that
    // cannot take them is refused before the tool changes anything.
    bool tracing = tracePath != nullptr && *tracePath != 0;
    auto itself = [](const char* what, const char* path, const char* other, const char* otherPath) {
        return Refuse(std::string(what) + " file " + simulator::QuotedPath(path) + ": is the " + other + " file " +
                      simulator::QuotedPath(otherPath) + " itself; name another file. The run was not started.");
    };
    if (tracing && fromFile && simulator::IsSameFile(tracePath, machinePath)) {
        return itself("trace", tracePath, "machine", machinePath);
    }
    // The log is appended to while the program runs: over the machine file
    // it would spoil the file or be written over with it, over the trace it
    // would be written over.
    bool logging = logPath != nullptr && *logPath != 0;
    if (logging && fromFile && simulator::IsSameFile(logPath, machinePath)) {
        return itself("log", logPath, "machine", machinePath);
    }
    if (logging && tracing && simulator::IsSameFile(logPath, tracePath)) {
        return itself("log", logPath, "trace", tracePath);
    }
    // A log of more than one name would take the entry under each: one of
    // them may be a source, which no other check would see.
    std::error_code unknown;
    std::uintmax_t logNames = logging ? std::filesystem::hard_link_count(logPath, unknown) : 1;
    if (!unknown && logNames > 1) {
        return Refuse("log file " + simulator::QuotedPath(logPath) + ": has " + std::to_string(logNames) +
                      " names (hard links), and the entry would be appended under each; use a file of its own. "
                      "The run was not started.");
    }
    if (fromFile && !simulator::CanReplaceFile(machinePath, &error)) {
        return Refuse("machine file " + simulator::QuotedPath(machinePath) + ": " + error +
                      ". The run was not started.");
    }
#if defined(TESSARY_SOURCE_DIR)
    // The demo machine's source, say, would otherwise take the run's changes,
    // and every later build would run on them.
    if (fromFile && simulator::IsTrackedInCheckout(TESSARY_SOURCE_DIR, machinePath)) {
        return Refuse("machine file " + simulator::QuotedPath(machinePath) +
                      ": is one of the project's own files, which the run would write its changes into; copy it and "
                      "name the copy. The run was not started.");
    }
    if (tracing && simulator::IsTrackedInCheckout(TESSARY_SOURCE_DIR, tracePath)) {
        return Refuse("trace file " + simulator::QuotedPath(tracePath) +
                      ": is one of the project's own files, which a trace would overwrite; name a file of its "
                      "own. The run was not started.");
    }
    if (logging && simulator::IsTrackedInCheckout(TESSARY_SOURCE_DIR, logPath)) {
        return Refuse("log file " + simulator::QuotedPath(logPath) +
                      ": is one of the project's own files, which the log would be appended to; name a file of its "
                      "own. The run was not started.");
    }
#endif
    if (tracing && !simulator::CanReplaceFile(tracePath, &error)) {
        return Refuse("trace file " + simulator::QuotedPath(tracePath) + ": " + error + ". The run was not started.");
    }
    simulator::Install(std::move(file.Loaded));
    simulator::SetEcho(true);
    simulator::SetTracing(tracing);
    double loading = lap();

    std::vector<std::u16string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(simulator::Utf8ToUtf16(argv[i]));
    }
    std::vector<const platform::WCHAR*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (const std::u16string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);
    int status = 0;
    bool killed = false;
    try {
        status = program(argc, pointers.data());
    } catch (const simulator::Killed& kill) {
        (void)std::fflush(stdout);
        (void)std::fprintf(stderr,
                           "%s (simulated platform): killed at %s (its call %llu), as a fault asked; the machine and "
                           "the trace are written as they stood then\n",
                           programName, kill.Operation.c_str(), static_cast<unsigned long long>(kill.Nth));
        status = KILLED_STATUS;
        killed = true;
    }
    (void)std::fflush(stdout);
    double running = lap();

    for (const std::string& violation : simulator::Violations()) {
        (void)std::fprintf(stderr, "%s (simulated platform): misuse: %s\n", programName, violation.c_str());
    }
    // A killed process leaves its handles to the system, which closes them.
    for (const std::string& resource : killed ? std::vector<std::string>() : simulator::OpenResources()) {
        (void)std::fprintf(stderr, "%s (simulated platform): left open: %s\n", programName, resource.c_str());
    }
    // Both files are written beside their old ones first, and only then put
    // in place: a run that cannot write one of them changes neither.
    simulator::PreparedReplacement machineSave;
    if (fromFile && !simulator::PrepareMachineFileSave(&file, simulator::Current(), &machineSave, &error)) {
        return Refuse(error);
    }
    simulator::PreparedReplacement traceSave;
    if (tracing) {
        auto write = [](std::ostream& out) {
            for (const simulator::Call& call : simulator::Trace()) {
                out << call.Line() << '\n';
            }
            return static_cast<bool>(out);
        };
        if (!simulator::PrepareReplacement(tracePath, write, &traceSave, &error)) {
            return Refuse("trace file " + simulator::QuotedPath(tracePath) + ": " + error +
                          (fromFile ? "; the machine file was left as it was" : ""));
        }
    }
    if (!machineSave.Temporary.empty() && !simulator::CommitReplacement(&machineSave, &error)) {
        return Refuse("machine file " + simulator::QuotedPath(machinePath) +
                      ": the run's changes were not saved: " + error);
    }
    if (tracing && !simulator::CommitReplacement(&traceSave, &error)) {
        return Refuse("trace file " + simulator::QuotedPath(tracePath) + ": " + error);
    }
    double saving = lap();
    if (timing != nullptr && *timing != 0) {
        (void)std::fprintf(stderr, "%s (simulated platform): load %.1f ms, run %.1f ms, save %.1f ms\n", programName,
                           loading, running, saving);
    }
    return status;
}

} // namespace

int RunOnSimulatedMachine(const char* name, int argc, char** argv,
                          const std::function<int(int, const platform::WCHAR* const*)>& program,
                          const char* logVariable)
{
    programName = name;
    try {
        return Run(argc, argv, program, logVariable);
    } catch (const std::exception& problem) {
        // Out of memory, say: the simulated machine failed, not the program.
        return Refuse(std::string("the simulation failed: ") + problem.what());
    }
}
