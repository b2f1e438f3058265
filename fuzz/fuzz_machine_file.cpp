// Fuzzes the machine-file loader: it answers a machine or one clear error of
// bounded length, never a crash, and a machine written back in the file's
// layout loads again as the same document in the same layout. Time and
// memory are bounded by the runner (test.sh gives libFuzzer a timeout and a
// memory limit), so that a cost that grows faster than the file is a failure.
//
// An input that holds two NUL bytes (which no JSON text has) stands for a
// large text: "prefix NUL middle NUL n suffix" is the prefix, the middle
// repeated 2^(n % 18) times, each byte 0x01 in it replaced by the number of
// the repetition, and the suffix; so small inputs reach deep nesting, and
// wide arrays and objects of members of distinct names.
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "machine_file/machine_file.h"

namespace {

constexpr std::size_t MAX_EXPANDED_BYTES = std::size_t{1} << 20;

[[noreturn]] void Fail(const char* problem, const std::string& detail)
{
    (void)std::fprintf(stderr, "%s: %.2000s\n", problem, detail.c_str());
    __builtin_trap();
}

// The text an input stands for; false when it would be too large.
bool Expand(const std::string& input, std::string* text)
{
    std::size_t first = input.find('\0');
    std::size_t second = first == std::string::npos ? first : input.find('\0', first + 1);
    if (second == std::string::npos || second + 1 >= input.size()) {
        *text = input;
        return true;
    }
    std::string middle = input.substr(first + 1, second - first - 1);
    std::size_t count = std::size_t{1} << (static_cast<unsigned char>(input[second + 1]) % 18);
    *text = input.substr(0, first);
    for (std::size_t i = 0; i < count && text->size() <= MAX_EXPANDED_BYTES; ++i) {
        for (char c : middle) {
            *text += c == '\x01' ? std::to_string(i) : std::string(1, c);
        }
    }
    if (text->size() > MAX_EXPANDED_BYTES) {
        return false;
    }
    *text += input.substr(second + 2);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    if (!Expand(std::string(reinterpret_cast<const char*>(data), size), &text)) {
        return 0;
    }
    simulator::MachineFile file;
    std::string error;
    if (!simulator::LoadMachineText(text, "fuzz.json", &file, &error)) {
        if (error.rfind("machine file 'fuzz.json': ", 0) != 0 || error.find('\n') != std::string::npos ||
            error.size() > 1000) {
            Fail("not one clear error", error);
        }
        return 0;
    }
    // A machine that no run changed is written back as it was read.
    nlohmann::ordered_json document = file.Document;
    if (!error.empty() || simulator::UpdateDocument(&document, file.Loaded) || document != file.Document) {
        Fail("an unchanged machine would not be written back as read", text);
    }
    // Written in its layout, it reads back as itself, in that layout.
    std::ostringstream written;
    if (!simulator::WriteDocument(written, file.Document, file.Layout)) {
        Fail("the document could not be written", text);
    }
    simulator::MachineFile again;
    if (!simulator::LoadMachineText(written.str(), "fuzz.json", &again, &error)) {
        Fail("a written machine does not load again", error);
    }
    const simulator::FileLayout& was = file.Layout;
    const simulator::FileLayout& is = again.Layout;
    if (again.Document != file.Document || is.OneLine != was.OneLine || is.FinalLineEnd != was.FinalLineEnd ||
        is.CarriageReturns != was.CarriageReturns || is.ByteOrderMark != was.ByteOrderMark ||
        (!was.OneLine && was.IndentWidth > 0 &&
         (is.IndentWidth != was.IndentWidth || is.IndentCharacter != was.IndentCharacter))) {
        Fail("a written machine loads again otherwise", written.str());
    }
    return 0;
}
