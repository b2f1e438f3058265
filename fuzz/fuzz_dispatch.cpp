// Fuzzes the command dispatch with arbitrary argument vectors: UTF-16 as the
// Windows entry point hands them over, or bytes converted as the simulated
// build's main() converts them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_dispatch.h"
#include "platform/sim/simulator.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& output)
{
    (void)std::fprintf(stderr, "invariant broken: %s\noutput: %s\n", what, output.c_str());
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    bool wide = (data[0] & 1) != 0;
    std::vector<std::u16string> arguments = {u"tessary"};
    std::u16string current;
    std::string narrow;
    auto finish = [&] {
        arguments.push_back(wide ? current : simulator::Utf8ToUtf16(narrow));
        current.clear();
        narrow.clear();
    };
    // Arguments are separated by a zero unit (wide) or byte (narrow).
    if (wide) {
        for (std::size_t i = 1; i + 1 < size; i += 2) {
            auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            unit == 0 ? finish() : current.push_back(unit);
        }
    } else {
        for (std::size_t i = 1; i < size; ++i) {
            data[i] == 0 ? finish() : narrow.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty() || !narrow.empty() || size > 1) {
        finish();
    }
    std::vector<const platform::WCHAR*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::u16string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    argv.push_back(nullptr);

    simulator::Install({});
    int status = TessaryMain(static_cast<int>(arguments.size()), argv.data());

    const std::string& output = simulator::Output();
    const std::u16string first = arguments.size() > 1 ? arguments[1] : u"";
    bool add = first.size() >= 2 && first[0] == u'/' && first[1] == u'a';
    bool remove = first.size() >= 2 && first[0] == u'/' && first[1] == u'd';
    std::string expected = std::string("Tessary Tool...\n") + (add      ? "Command: Add WapiSupport\n"
                                                               : remove ? "Command: Delete WapiSupport\n"
                                                                        : "Please use /a or /d argument\n");
    if (status != 0) {
        Fail("the exit status is not 0", output);
    }
    if (output != expected) {
        Fail("the output is not the banner and the line the first two code units call for", output);
    }
    bool scanned = false;
    for (const simulator::Call& call : simulator::Trace()) {
        scanned = scanned || call.Operation == "SetupDiGetClassDevsW";
    }
    if (scanned != (add || remove)) {
        Fail("the scan ran without a command, or not for one", output);
    }
    return 0;
}
