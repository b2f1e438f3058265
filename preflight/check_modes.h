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

// What a mode prints and answers for a check's answer; error lines carry the
// program's name first ("tessary-preflight: ...").
ModeReply ReplyInMode(const std::string& option, const CheckAnswer& answer);
