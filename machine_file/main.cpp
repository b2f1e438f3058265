// The simulated build's process entry: loads the machine, runs the tool on
// it, then writes back what the run changed and the call trace.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/command_dispatch.h"
#include "machine_file/files.h"
#include "machine_file/machine_file.h"
#include "platform/sim/simulator.h"

namespace {

// The exit status when the simulated machine, not the tool, fails.
constexpr int MACHINE_FAILED = 2;

int Refuse(const std::string& message)
{
    (void)std::fprintf(stderr, "tessary (simulated platform): %s\n", message.c_str());
    return MACHINE_FAILED;
}

int Run(int argc, char** argv)
{
    const char* machinePath = std::getenv("TESSARY_SIM_MACHINE");
    const char* tracePath = std::getenv("TESSARY_SIM_TRACE");
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
    if (tracing && fromFile && simulator::IsSameFile(tracePath, machinePath)) {
        return Refuse("trace file " + simulator::QuotedPath(tracePath) + ": is the machine file " +
                      simulator::QuotedPath(machinePath) + " itself; name another file. The run was not started.");
    }
    if (fromFile && !simulator::CanReplaceFile(machinePath, &error)) {
        return Refuse("machine file " + simulator::QuotedPath(machinePath) + ": " + error +
                      ". The run was not started.");
    }
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
    int status = TessaryMain(argc, pointers.data());
    (void)std::fflush(stdout);
    double running = lap();

    for (const std::string& violation : simulator::Violations()) {
        (void)std::fprintf(stderr, "tessary (simulated platform): misuse: %s\n", violation.c_str());
    }
    for (const std::string& resource : simulator::OpenResources()) {
        (void)std::fprintf(stderr, "tessary (simulated platform): left open: %s\n", resource.c_str());
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
        (void)std::fprintf(stderr, "tessary (simulated platform): load %.1f ms, run %.1f ms, save %.1f ms\n", loading,
                           running, saving);
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& problem) {
        // Out of memory, say: the simulated machine failed, not the tool.
        return Refuse(std::string("the simulation failed: ") + problem.what());
    }
}
