// The record of platform calls: each operation in progress is a Recorder,
// which counts the call, marks the time spent inside the platform and, while
// tracing, records the arguments and answers as texts in the trace's format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/state.h"

namespace simulator {

using Fields = std::vector<std::pair<std::string, std::string>>;

// Numbers as the trace writes them.
std::string Decimal(std::uint64_t value);
std::string Hex(std::uint64_t value);
// A member index, or "invalid" for -1.
std::string IndexText(std::int64_t index);
// A key handle: "HKLM" for the local machine root, else its number.
std::string KeyName(platform::HKEY handle);
// A block: "null", the size of one the platform handed out, or "foreign".
std::string BlockName(const void* block);

// One platform call in progress. The texts of a record are built only while
// tracing, so that an untraced call costs little.
class Recorder {
public:
    template <class MakeArguments> Recorder(const char* operation, MakeArguments arguments)
    {
        State& sim = Sim();
        ++sim.Depth;
        ++sim.CallsMade;
        if (sim.Tracing) {
            sim.Trace.push_back(Call{operation, arguments(), {}});
            index_ = sim.Trace.size();
        }
    }
    // A call of an operation that a fault can make fail, under its name.
    template <class MakeArguments>
    Recorder(Operation operation, MakeArguments arguments) : Recorder(KindOf(operation).Name, arguments)
    {
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { --Sim().Depth; }

    // Replaces the recorded results.
    template <class MakeResults> void Results(MakeResults results)
    {
        if (index_ != 0) {
            Sim().Trace[index_ - 1].Results = results();
        }
    }

    // Adds one result, at the front or at the end.
    template <class MakeValue> void Add(const char* name, MakeValue value, bool atFront = false)
    {
        if (index_ != 0) {
            Fields& results = Sim().Trace[index_ - 1].Results;
            results.insert(atFront ? results.begin() : results.end(), {name, value()});
        }
    }

private:
    std::size_t index_ = 0;
};

// A failed call that reports through the last error: sets it and answers FALSE.
platform::BOOL Fail(Recorder& call, DWORD error);
// A call that succeeds leaves the last error as it was, as Wine's SetupAPI
// does; answers TRUE.
platform::BOOL Succeed(Recorder& call);
// A call that returns its status code (the registry's).
platform::LSTATUS Answer(Recorder& call, DWORD status);

} // namespace simulator
