// The pre-flight's process entry: what tessary.exe /a or /d would print and
// change on this very machine, from a read-only snapshot of it replayed over
// the simulated platform; or the snapshot saved as a machine file. The
// snapshot goes through the Windows backend's table, the replay and the check
// through the double's.
#include <cwchar>
#include <exception>
#include <string>

#include "common/unicode.h"
#include "deploy/win_system.h"
#include "machine_file/files.h"
#include "machine_file/machine_file.h"
#include "platform/sim/simulator.h"
#include "platform/win/win_console.h"
#include "platform/win/windows_operations.h"
#include "preflight/check_modes.h"
#include "preflight/replay.h"
#include "preflight/save_target.h"
#include "preflight/snapshot.h"
#include "preflight/win_save.h"

namespace {

// Text for the console or a pipe, as the tool's own output goes: through
// the Windows backend, whichever table is in use.
void Print(const std::string& text)
{
    platform::WindowsOperations().WriteStandardOutput(text.data(), text.size());
}

// Text for standard error, shown on a console in any code page.
void PrintError(const std::string& text)
{
    (void)winconsole::WriteError(text.data(), text.size());
}

int Fail(const std::string& problem)
{
    PrintError("tessary-preflight: " + problem + "\n");
    return PREFLIGHT_FAILED;
}

std::string Utf8(const wchar_t* text)
{
    return Utf16ToUtf8(reinterpret_cast<const platform::WCHAR*>(text), std::wcslen(text));
}

int Answer(const PreflightCommand& command, const CheckAnswer& answer)
{
    ModeReply reply = ReplyInMode(command.Mode, answer);
    // Where the system reads the answer from the output, an output that
    // could not be written is no answer, and not the one that no output
    // gives (a detection's "not installed").
    if (!winconsole::WriteOutput(reply.Out.data(), reply.Out.size()) && reply.AnswerInOutput) {
        PrintError("tessary-preflight: the answer could not be written to standard output\n");
        return CHECK_UNREADABLE;
    }
    PrintError(reply.Error);
    return reply.ExitCode;
}

int Run(const PreflightCommand& command, int argc, wchar_t** argv)
{
    bool save = command.What == PreflightCommand::Kind::Save;
    if (command.What == PreflightCommand::Kind::Usage) {
        Print("Usage: tessary-preflight.exe /a | /d | MODE /a | MODE /d | --save FILE\n"
              "  /a, /d                   print what tessary.exe /a or /d would print on this machine, and\n"
              "                           what it would change; nothing is changed\n"
              "  MODE /a, MODE /d         whether WapiSupport is already as /a or /d leaves it on every\n"
              "                           adapter tessary.exe would pick, answered as MODE says:\n"
              "    --check                one line; exit status 0 yes, 1 no, 3 no adapter, 4 the machine\n"
              "                           could not be read (the reason on standard error)\n"
              "    --detect               for a detection rule: exit 0 with the line when yes or when there\n"
              "                           is no adapter, exit 0 with nothing when no; 4 as above\n"
              "    --needs-remediation    for a remediation's detection: exit 1 with the line when no or\n"
              "                           when the machine could not be read, else exit 0 with the line\n"
              "    --compliance-value     for a compliance rule: Compliant, NotCompliant or NotApplicable\n"
              "                           (no adapter), exit 0; 4 as above\n"
              "  --save FILE              save a snapshot of this machine's devices and driver keys as a\n"
              "                           machine file, for support or for a replay elsewhere\n");
        return USAGE;
    }

    Snapshot snapshot;
    std::string error;
    // The file to save to is judged, and its folder pinned, before the
    // snapshot is taken: a snapshot is not taken for nothing.
    SnapshotFile file;
    if (save && (!CheckSaveName(reinterpret_cast<const char16_t*>(argv[2]), &error) || !file.Open(argv[2], &error))) {
        return Fail(simulator::QuotedPath(Utf8(argv[2])) + ": " + error + "; no snapshot was taken");
    }
    // The snapshot reads this machine; the replay and the check run on the
    // double, over the snapshot.
    platform::UseOperations(&platform::WindowsOperations());
    bool taken = TakeSnapshot(&snapshot, &error);
    platform::UseOperations(&simulator::PlatformOperations());
    if (command.What == PreflightCommand::Kind::Check) {
        CheckAnswer answer = CheckTaken(taken ? &snapshot : nullptr, error, command.Action);
        std::string holder;
        DeploymentNow deployment = CurrentDeployment(&holder);
        if (deployment == DeploymentNow::Running) {
            answer.Line += "; a deployment is running now (it holds Global\\Tessary): ask again once it ends";
        } else if (deployment == DeploymentNow::Blocked) {
            answer.Line += "; Global\\Tessary is not a deployment's (" + holder +
                           "): no deployment runs until the process that holds it ends";
        }
        return Answer(command, answer);
    }
    if (!taken) {
        return Fail("no snapshot: " + error);
    }
    if (save) {
        std::string path = Utf8(argv[2]);
        std::string unspelled = simulator::NameNoFileSpells(snapshot.Machine);
        if (!unspelled.empty()) {
            return Fail(simulator::QuotedPath(path) + ": this machine holds a name that a machine file cannot spell " +
                        "(a surrogate without its partner, shown as U+FFFD): " + EscapeControlCharacters(unspelled) +
                        "; nothing was saved");
        }
        std::string comment = "A snapshot taken by tessary-preflight.exe" +
                              std::string(snapshot.Machine.Elevated ? "" : " without elevation") +
                              ". Its devices react as adapters do, which a driver may not.";
        if (!snapshot.Machine.Elevated) {
            comment += " Each driver key opens for writing as its own security allowed this process, and the class "
                       "installer refuses every change of state, as it refuses a standard user.";
        }
        for (const KeyNote& note : snapshot.Notes) {
            comment += " " + simulator::Utf16ToUtf8(note.Path) + ": " + note.Text + ".";
        }
        simulator::Machine replayed = ReplayMachine(snapshot.Machine);
        if (!file.Write(simulator::MachineDocument(replayed, comment).dump(2) + "\n", &error)) {
            return Fail(simulator::QuotedPath(path) + ": " + error);
        }
        Print("Saved a snapshot of " + std::to_string(snapshot.Machine.Devices.size()) + " devices and " +
              std::to_string(CountDriverKeys(snapshot)) + " driver keys to " + path + "\n");
        return 0;
    }
    Replay result = ReplayTool(snapshot, argc, reinterpret_cast<const platform::WCHAR* const*>(argv));
    Print(result.ToolOutput + "\n" + result.Changes);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    PreflightCommand command = ReadPreflightCommand(argc, reinterpret_cast<const platform::WCHAR* const*>(argv));
    try {
        return Run(command, argc, argv);
    } catch (const std::exception& problem) {
        std::string stopped = std::string("stopped: ") + problem.what();
        // A check that could not finish could not read the machine: 1 would
        // say "not compliant" to --check, and "nothing" to --detect.
        return command.What == PreflightCommand::Kind::Check ? Answer(command, {CHECK_UNREADABLE, stopped})
                                                             : Fail(stopped);
    }
}
