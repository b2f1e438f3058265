#include "preflight/check_modes.h"

#include "app/command_line.h"
#include "common/unicode.h"

namespace {

enum class Shown { Line, Nothing, Word, LineOnError };

struct Reply {
    int ExitCode;
    Shown What;
    const char* Word;
};

// The replies of a mode to the verdicts, in the order of Verdicts below.
struct Mode {
    const char* Option;
    Reply Replies[4];
};

constexpr int VERDICTS[4] = {CHECK_COMPLIANT, CHECK_NOT_COMPLIANT, CHECK_NO_ADAPTER, CHECK_UNREADABLE};

constexpr Mode MODES[] = {
    {"--check",
     {{CHECK_COMPLIANT, Shown::Line, ""},
      {CHECK_NOT_COMPLIANT, Shown::Line, ""},
      {CHECK_NO_ADAPTER, Shown::Line, ""},
      {CHECK_UNREADABLE, Shown::LineOnError, ""}}},
    // Intune's Win32 app and Configuration Manager's application: exit 0 and
    // output is installed, exit 0 and none is not. A machine with nothing to
    // act on counts as installed, or the app would be offered to it again
    // and again.
    {"--detect",
     {{0, Shown::Line, ""}, {0, Shown::Nothing, ""}, {0, Shown::Line, ""}, {CHECK_UNREADABLE, Shown::LineOnError, ""}}},
    // Intune's Remediations: exit 1 runs the remediation; the line is shown.
    // A machine that could not be read is one a deployment may mend.
    {"--needs-remediation", {{0, Shown::Line, ""}, {1, Shown::Line, ""}, {0, Shown::Line, ""}, {1, Shown::Line, ""}}},
    // Configuration Manager's compliance item: exactly one value, exit 0.
    {"--compliance-value",
     {{0, Shown::Word, "Compliant"},
      {0, Shown::Word, "NotCompliant"},
      {0, Shown::Word, "NotApplicable"},
      {CHECK_UNREADABLE, Shown::LineOnError, ""}}},
};

const Mode* ModeOf(const std::string& option)
{
    for (const Mode& mode : MODES) {
        if (option == mode.Option) {
            return &mode;
        }
    }
    return nullptr;
}

} // namespace

bool IsCheckMode(const std::string& option)
{
    return ModeOf(option) != nullptr;
}

ModeReply ReplyInMode(const std::string& option, const CheckAnswer& answer)
{
    const Mode* mode = ModeOf(option);
    int verdict = 0;
    while (verdict < 3 && VERDICTS[verdict] != answer.ExitCode) {
        ++verdict;
    }
    const Mode& chosen = mode != nullptr ? *mode : MODES[0];
    const Reply& reply = chosen.Replies[mode != nullptr ? verdict : 3];
    bool inOutput = false;
    for (const Reply& other : chosen.Replies) {
        inOutput = inOutput || (other.ExitCode == reply.ExitCode &&
                                (other.What != reply.What || std::string(other.Word) != reply.Word));
    }
    // One line, whatever a name or a reason in it holds.
    std::string line = EscapeControlCharacters(answer.Line);
    switch (reply.What) {
    case Shown::Line:
        return {reply.ExitCode, line + "\n", "", inOutput};
    case Shown::Nothing:
        return {reply.ExitCode, "", "", inOutput};
    case Shown::Word:
        return {reply.ExitCode, std::string(reply.Word) + "\n", "", inOutput};
    case Shown::LineOnError:
        break;
    }
    return {reply.ExitCode, "", "tessary-preflight: " + line + "\n", inOutput};
}

PreflightCommand ReadPreflightCommand(int argc, const platform::WCHAR* const* argv)
{
    PreflightCommand command;
    const platform::WCHAR* first = argc >= 2 ? argv[1] : nullptr;
    if (ReadCommand(first, &command.Action)) {
        command.What = PreflightCommand::Kind::Replay;
        return command;
    }
    if (argc != 3) {
        return command;
    }
    std::u16string text(first);
    std::string option = Utf16ToUtf8(text.data(), text.size());
    if (option == "--save") {
        command.What = PreflightCommand::Kind::Save;
        command.File = argv[2];
    } else if (IsCheckMode(option) && ReadCommand(argv[2], &command.Action)) {
        command.What = PreflightCommand::Kind::Check;
        command.Mode = option;
    }
    return command;
}
