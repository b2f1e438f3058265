#include "platform/sim/call_recorder.h"

#include "common/text_format.h"

namespace simulator {

using namespace platform;

std::string Decimal(std::uint64_t value)
{
    return std::to_string(value);
}

std::string Hex(std::uint64_t value)
{
    return HexNumber(value);
}

std::string IndexText(std::int64_t index)
{
    return index < 0 ? "invalid" : Decimal(static_cast<std::uint64_t>(index));
}

std::string KeyName(HKEY handle)
{
    return handle == HKEY_LOCAL_MACHINE ? "HKLM" : Hex(reinterpret_cast<std::uintptr_t>(handle));
}

std::string BlockName(const void* block)
{
    if (block == nullptr) {
        return "null";
    }
    auto found = Sim().Blocks.find(block);
    return found == Sim().Blocks.end() ? "foreign" : Decimal(found->second.Size);
}

BOOL Fail(Recorder& call, DWORD error)
{
    Sim().LastError = error;
    call.Results([error] { return Fields{{"ok", "0"}, {"error", Decimal(error)}}; });
    return FALSE;
}

BOOL Succeed(Recorder& call)
{
    call.Add(
        "ok", [] { return "1"; }, true);
    return TRUE;
}

LSTATUS Answer(Recorder& call, DWORD status)
{
    call.Add(
        "result", [status] { return Decimal(status); }, true);
    return static_cast<LSTATUS>(status);
}

std::string Call::Argument(const std::string& name) const
{
    for (const auto& argument : Arguments) {
        if (argument.first == name) {
            return argument.second;
        }
    }
    return "";
}

std::string Call::Result(const std::string& name) const
{
    for (const auto& result : Results) {
        if (result.first == name) {
            return result.second;
        }
    }
    return "";
}

std::string Call::Line() const
{
    std::string line = Operation;
    for (const auto& argument : Arguments) {
        line += " " + argument.first + "=" + argument.second;
    }
    line += " ->";
    for (const auto& result : Results) {
        line += " " + result.first + "=" + result.second;
    }
    return line;
}

} // namespace simulator
