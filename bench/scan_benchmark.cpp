// Measures the scan against its floor: a loop that makes only the platform
// calls the selection rules require for each device, over the same
// simulated machine. The floor selects and stops there; the tool also edits
// and restarts the 1% it selects. Reports per device the time and the platform calls, and
// per scan the heap allocations the tool makes (its LocalAlloc calls and any
// operator new outside the platform).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "bench/bench_machine.h"
#include "discovery/adapter_scan.h"
#include "platform/sim/simulator.h"

using namespace platform;

namespace {

std::atomic<std::uint64_t> toolAllocations{0};

} // namespace

void* operator new(std::size_t size)
{
    if (!simulator::InsidePlatform()) {
        ++toolAllocations;
    }
    if (void* block = std::malloc(size != 0 ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace {

const simulator::Machine& MachineOf(std::size_t devices)
{
    static std::size_t made = 0;
    static simulator::Machine machine;
    if (made != devices) {
        machine = BenchMachine(devices);
        made = devices;
    }
    return machine;
}

bool StartsWith(const WCHAR* text, const WCHAR* prefix)
{
    for (; *prefix != 0; ++prefix, ++text) {
        if (*text != *prefix) {
            return false;
        }
    }
    return true;
}

bool Contains(const WCHAR* text, const WCHAR* needle)
{
    for (; *text != 0; ++text) {
        if (StartsWith(text, needle)) {
            return true;
        }
    }
    return false;
}

// The floor: the selection the rules call for, with nothing else. Each
// property tested is read into one fixed buffer (never grown), copied into a
// field with truncation and compared, with the platform's string functions,
// as the rules say; no field is cleared and no bookkeeping is kept.
std::size_t FloorScan()
{
    std::size_t selected = 0;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    WCHAR buffer[512];
    WCHAR field[260];
    // Reads a property and copies its text into the field; false when it
    // cannot be read. The bench machine's texts are terminated and short.
    auto read = [&](DWORD property) {
        DWORD size = sizeof(buffer);
        if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                               sizeof(buffer), &size)) {
            return false;
        }
        lstrcpynW(field, buffer, 260);
        return true;
    };
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        DWORD status = 0;
        DWORD problem = 0;
        if (CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0) != CR_SUCCESS) {
            continue;
        }
        if (!read(SPDRP_CLASS) || lstrcmpW(field, u"Net") != 0) {
            continue;
        }
        if (!read(SPDRP_ENUMERATOR_NAME) || (lstrcmpW(field, u"USB") != 0 && lstrcmpW(field, u"PCI") != 0)) {
            continue;
        }
        if (!read(SPDRP_DRIVER)) {
            continue;
        }
        if (!read(SPDRP_DEVICEDESC) || !StartsWith(field, u"Corvane") ||
            !(Contains(field, u"Wireless") || Contains(field, u"Wi-Fi"))) {
            continue;
        }
        SP_DEVINFO_DATA probe = {};
        probe.cbSize = sizeof(probe);
        if (SetupDiEnumDeviceInfo(set, index, &probe) &&
            CM_Get_DevNode_Status(&status, &problem, probe.DevInst, 0) == CR_SUCCESS &&
            (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED) {
            continue;
        }
        ++selected;
    }
    SetupDiDestroyDeviceInfoList(set);
    return selected;
}

template <bool Tool> void Scan(benchmark::State& state)
{
    platform::UseOperations(&simulator::PlatformOperations());
    auto devices = static_cast<std::size_t>(state.range(0));
    // The machine is installed once: a scan leaves every device as it found
    // it (disabled and enabled again), and after the first one each Add
    // rewrites the same values, so every timed scan does the same work.
    simulator::Install(MachineOf(devices));
    simulator::SetTracing(false);
    // Both must pick the machine's adapters, or the figures measure nothing:
    // a property the scan reads that the bench machine lacks shows here.
    std::size_t picked = 0;
    (void)EnumWirelessAdapters(
        [](DeviceRef, const SP_DEVINFO_DATA*, const WCHAR*, void* count) { ++*static_cast<std::size_t*>(count); },
        &picked);
    if (picked != devices / 100 || FloorScan() != devices / 100) {
        state.SkipWithError("the scan or its floor does not pick the bench machine's adapters");
        return;
    }
    Tool ? ScanWirelessAdapters(SettingAction::Add) : static_cast<void>(FloorScan());
    std::uint64_t callsBefore = simulator::CallsMade();
    std::uint64_t blocksBefore = simulator::CallsOf(simulator::Operation::LocalAlloc);
    std::uint64_t news = 0;
    for (auto _ : state) {
        std::uint64_t before = toolAllocations;
        if (Tool) {
            ScanWirelessAdapters(SettingAction::Add);
        } else {
            benchmark::DoNotOptimize(FloorScan());
        }
        news += toolAllocations - before;
    }
    auto scans = static_cast<double>(state.iterations());
    auto perScan = [scans](std::uint64_t count) { return static_cast<double>(count) / scans; };
    state.counters["time/device"] = benchmark::Counter(static_cast<double>(devices) * scans,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["calls/device"] = perScan(simulator::CallsMade() - callsBefore) / static_cast<double>(devices);
    state.counters["allocs/scan"] = perScan(simulator::CallsOf(simulator::Operation::LocalAlloc) - blocksBefore + news);
    if (!simulator::Violations().empty() || !simulator::OpenResources().empty()) {
        state.SkipWithError("the scan misused the platform or left something open");
    }
}

} // namespace

BENCHMARK_TEMPLATE(Scan, true)->Name("ToolScan")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Scan, false)->Name("FloorScan")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
