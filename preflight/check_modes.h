// The check's answer as each management system reads a program: one mode per
// contract, each a mapping of the check's four verdicts (see JudgeCompliance)
// to an exit code and what the program prints.
#pragma once

#include <string>

#include "preflight/compliance.h"

struct ModeReply {
    int ExitCode;
    std::string Out;   // standard output, a whole line with its "\n", or nothing
    std::string Error; // standard error, likewise
    // The system reads the answer from the output, not from the exit code
    // alone: another verdict answers the same code with other output.
    bool AnswerInOutput = false;
};

// The modes, by option:
//   --check               0 compliant, 1 not, 3 no adapter: the line; 4 unreadable: the line on standard error
//   --detect              application detection: exit 0 with the line when the setting is in force or
//                         there is nothing to act on, exit 0 and nothing when it is not; 4 unreadable
//   --needs-remediation   remediation detection: exit 1 with the line when a deployment has work to do
//                         (not compliant, or the machine could not be read), else exit 0 with the line
//   --compliance-value    one value for a compliance rule: Compliant, NotCompliant or NotApplicable,
//                         exit 0; 4 unreadable
bool IsCheckMode(const std::string& option);

// What a mode prints and answers for a check's answer, its line on one line
// (control characters as \xNN); error lines carry the program's name first
// ("tessary-preflight: ...").
ModeReply ReplyInMode(const std::string& option, const CheckAnswer& answer);

// What the pre-flight's command line asks for: "/a" or "/d" (read as the tool
// reads its argument; what follows is ignored, as the tool ignores it), a
// replay; "--save FILE", a snapshot saved; "MODE /a" or "MODE /d", a check
// answered in that mode. Anything else, or a word too many: its usage.
struct PreflightCommand {
    enum class Kind { Usage, Replay, Save, Check } What = Kind::Usage;
    SettingAction Action = SettingAction::Add; // for Replay and Check
    std::string Mode;                          // for Check
    const platform::WCHAR* File = nullptr;     // for Save
};
PreflightCommand ReadPreflightCommand(int argc, const platform::WCHAR* const* argv);
