// The simulator's state while a machine is installed, shared by the platform
// operations and the control interface. Not for tests: they use simulator.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/simulator.h"

namespace simulator {

// What one open device information set holds for each of its members.
struct Member {
    bool HasParams = false;
    platform::SP_PROPCHANGE_PARAMS Params = {};
    DWORD InstallFlags = 0;
};

struct DeviceSet {
    std::uintptr_t Id = 0;
    std::vector<Member> Members;
};

struct OpenKey {
    std::uintptr_t Id = 0;
    std::size_t KeyIndex = 0;
    platform::REGSAM Access = 0; // what it was opened for
};

// A memory block the platform handed out, and its size.
struct Block {
    std::unique_ptr<platform::BYTE[]> Bytes;
    std::size_t Size = 0;
};

struct State {
    Machine Installed;
    std::vector<std::int64_t> FaultFired; // by fault
    std::uint64_t CallCounts[OPERATION_COUNT] = {};
    int Depth = 0; // above 0 while a platform call runs
    std::uint64_t CallsMade = 0;
    std::vector<Call> Trace;
    bool Tracing = true;
    std::string Output;
    bool Echo = false;
    DWORD LastError = 0;
    std::uintptr_t NextHandle = 1;
    std::vector<DeviceSet> Sets;
    std::vector<OpenKey> Keys;
    RegistryNameIndex KeysByPath; // the registry's keys, to find them by path
    std::map<const void*, Block> Blocks;
    std::vector<std::string> Violations;
    std::vector<StateChange> StateChanges;
};

State& Sim();

// Handles are small numbers in a range no real pointer uses here.
constexpr std::uintptr_t SET_HANDLE_BASE = 0x5E700000;
constexpr std::uintptr_t KEY_HANDLE_BASE = 0x4E900000;

DeviceSet* FindSet(platform::HDEVINFO handle);
// The member index that a filled record designates, or -1.
std::int64_t MemberIndex(const DeviceSet* set, const platform::SP_DEVINFO_DATA* deviceInfo);

// The key of a path, and its index in the registry; null when there is none.
Key* FindKey(const platform::WCHAR* path, std::size_t* index);
OpenKey* FindOpenKey(platform::HKEY handle);

// The length of a zero-terminated text; null counts as empty.
std::size_t TextLength(const platform::WCHAR* text);
// A zero-terminated text as the platform would read it; null reads as empty.
std::u16string ReadText(const platform::WCHAR* text);

} // namespace simulator
