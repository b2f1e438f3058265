// The kernel32 operations the tool calls: strings, memory, the last error
// and standard output, over the simulated machine.
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/inspection.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/fault_matching.h"
#include "platform/sim/simulated_operations.h"
#include "platform/sim/state.h"

using namespace simulator;

namespace platform {
namespace simulated {

namespace {

// The simulated machine has little memory to spare: a larger block cannot
// be allocated.
constexpr SIZE_T MAX_BLOCK_BYTES = SIZE_T{16} * 1024 * 1024;

} // namespace

WCHAR* lstrcpynW(WCHAR* destination, const WCHAR* source, int maxLength)
{
    // Copies at most maxLength - 1 code units, stopping at the terminator,
    // and always terminates a destination of non-zero length.
    Recorder call("lstrcpynW", [&] { return Fields{{"max", std::to_string(maxLength)}}; });
    int copied = 0;
    if (maxLength > 0) {
        while (copied < maxLength - 1 && source[copied] != 0) {
            destination[copied] = source[copied];
            ++copied;
        }
        destination[copied] = 0;
    }
    call.Add("text", [&] {
        return maxLength > 0 ? QuoteText(std::u16string(destination, static_cast<std::size_t>(copied))) : "none";
    });
    return destination;
}

int lstrcmpW(const WCHAR* first, const WCHAR* second)
{
    // A plain comparison code unit by code unit; for texts of ASCII letters
    // it agrees with the platform's linguistic one.
    Recorder call("lstrcmpW", [&] {
        return Fields{{"first", QuoteText(ReadText(first))}, {"second", QuoteText(ReadText(second))}};
    });
    const WCHAR* a = first != nullptr ? first : u"";
    const WCHAR* b = second != nullptr ? second : u"";
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    int result = *a == *b ? 0 : *a < *b ? -1 : 1;
    call.Add("result", [result] { return std::to_string(result); });
    return result;
}

WCHAR* lstrcatW(WCHAR* destination, const WCHAR* source)
{
    Recorder call("lstrcatW", [&] { return Fields{{"source", QuoteText(ReadText(source))}}; });
    std::size_t length = TextLength(destination);
    std::size_t appended = TextLength(source);
    std::memcpy(destination + length, source, appended * sizeof(WCHAR));
    destination[length + appended] = 0;
    call.Add("length", [&] { return Decimal(length + appended); });
    return destination;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    Recorder call(Operation::LocalAlloc, [&] { return Fields{{"flags", Hex(flags)}, {"bytes", Decimal(bytes)}}; });
    State& sim = Sim();
    if (const Fault* fault = FireFault(Operation::LocalAlloc)) {
        sim.LastError = fault->Error;
        call.Results([&] { return Fields{{"block", "null"}, {"error", Decimal(fault->Error)}}; });
        return nullptr;
    }
    if (flags != LPTR || bytes > MAX_BLOCK_BYTES) {
        sim.LastError = flags != LPTR ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY;
        call.Results([&] { return Fields{{"block", "null"}, {"error", Decimal(sim.LastError)}}; });
        return nullptr;
    }
    // Exactly the bytes asked for, zero-filled, so that a read past the end
    // is caught by the sanitizers and memory checkers.
    std::unique_ptr<BYTE[]> block(new BYTE[bytes]());
    void* address = block.get();
    sim.Blocks[address] = Block{std::move(block), bytes};
    call.Results([] { return Fields{{"block", "ok"}}; });
    return address;
}

HLOCAL LocalFree(HLOCAL memory)
{
    Recorder call(Operation::LocalFree, [&] { return Fields{{"block", BlockName(memory)}}; });
    State& sim = Sim();
    if (const Fault* fault = FireFault(Operation::LocalFree)) {
        sim.LastError = fault->Error;
        call.Results([&] { return Fields{{"result", "failed"}, {"error", Decimal(fault->Error)}}; });
        return memory;
    }
    auto found = sim.Blocks.find(memory);
    if (found == sim.Blocks.end()) {
        sim.LastError = ERROR_INVALID_HANDLE;
        call.Results([] { return Fields{{"result", "failed"}, {"error", Decimal(ERROR_INVALID_HANDLE)}}; });
        return memory;
    }
    sim.Blocks.erase(found);
    call.Results([] { return Fields{{"result", "freed"}}; });
    return nullptr;
}

DWORD GetLastError()
{
    DWORD error = Sim().LastError;
    Recorder call("GetLastError", [] { return Fields{}; });
    call.Add("error", [error] { return Decimal(error); });
    return error;
}

void WriteStandardOutput(const char* text, SIZE_T length)
{
    Recorder call("Output", [&] { return Fields{{"text", QuoteText(Utf8ToUtf16(std::string(text, length)))}}; });
    State& sim = Sim();
    sim.Output.append(text, length);
    if (sim.Echo) {
        (void)std::fwrite(text, 1, length, stdout);
        (void)std::fflush(stdout);
    }
}

BOOL IsProcessElevated()
{
    BOOL elevated = Sim().Installed.Elevated ? TRUE : FALSE;
    Recorder call("IsProcessElevated", [] { return Fields{}; });
    call.Add("elevated", [elevated] { return Decimal(static_cast<std::uint64_t>(elevated)); });
    return elevated;
}

void SetLastError(DWORD error)
{
    Recorder call("SetLastError", [error] { return Fields{{"error", Decimal(error)}}; });
    Sim().LastError = error;
}

} // namespace simulated
} // namespace platform
