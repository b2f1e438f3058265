// The registry operations over the simulated machine's registry.
#include <cstring>

#include "common/text_format.h"
#include "platform/inspection.h"
#include "platform/sim/call_recorder.h"
#include "platform/sim/fault_matching.h"
#include "platform/sim/simulated_operations.h"
#include "platform/sim/state.h"

using namespace simulator;

namespace platform {
namespace simulated {

namespace {

constexpr DWORD REG_EXPAND_SZ = 2;
constexpr REGSAM KEY_WOW64_RES = 0x300; // which registry view: no access right

// Whether the machine grants an access to a key: a standard user may only
// read below the local machine root, a key may deny full access, and a key
// may deny any access.
bool Granted(const Key& key, REGSAM access)
{
    bool writing = (access & ~(KEY_READ | KEY_WOW64_RES)) != 0;
    return !key.DenyRead && (!writing || (!key.DenyFullAccess && Sim().Installed.Elevated));
}

// The open key a handle names, for a call that needs the given access: the
// registry checks the access a key was opened for at each use. Its answer
// when the handle names no open key, or was not opened for that.
DWORD UseKey(HKEY key, REGSAM needed, OpenKey** open)
{
    *open = FindOpenKey(key);
    if (*open == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    return ((*open)->Access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

using Values = std::vector<std::pair<std::u16string, Value>>;

// The value of a name in a key's values, or null: names compare as the
// registry compares them.
template <class List> auto FindValue(List& values, const WCHAR* name) -> decltype(&values.front())
{
    std::size_t length = TextLength(name);
    for (auto& value : values) {
        if (SameRegistryName(value.first.data(), value.first.size(), name, length)) {
            return &value;
        }
    }
    return nullptr;
}

// Gives a value's type and data as RegQueryValueExW and RegEnumValueW do:
// the data's size always, the data only when it fits.
DWORD AnswerValue(Recorder& call, const Value& value, DWORD* type, BYTE* data, DWORD* dataSize)
{
    auto size = static_cast<DWORD>(value.Data.size());
    DWORD room = dataSize != nullptr ? *dataSize : 0;
    if (type != nullptr) {
        *type = value.Type;
    }
    if (dataSize != nullptr) {
        *dataSize = size;
    }
    if (data != nullptr && size > room) {
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && size > 0) {
        std::memcpy(data, value.Data.data(), size);
    }
    call.Add("type", [&] { return Decimal(value.Type); });
    return ERROR_SUCCESS;
}

// The fields a call that opens or makes a key records.
Fields KeyFields(HKEY key, const WCHAR* subKey, DWORD options, REGSAM access)
{
    return Fields{{"root", KeyName(key)},
                  {"path", subKey != nullptr ? QuoteText(ReadText(subKey)) : "null"},
                  {"options", Decimal(options)},
                  {"access", Hex(access)}};
}

// Opens a key of the machine's registry: a new handle on it.
HKEY OpenRegistryKey(std::size_t index, REGSAM access)
{
    OpenKey open;
    open.Id = KEY_HANDLE_BASE + Sim().NextHandle++;
    open.KeyIndex = index;
    open.Access = access;
    Sim().Keys.push_back(open);
    return reinterpret_cast<HKEY>(open.Id);
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    Recorder call(Operation::RegOpenKeyExW, [&] { return KeyFields(key, subKey, options, samDesired); });
    if (const Fault* fault = FireFault(Operation::RegOpenKeyExW)) {
        return Answer(call, fault->Error);
    }
    if (key != HKEY_LOCAL_MACHINE || result == nullptr) {
        return Answer(call, ERROR_INVALID_HANDLE);
    }
    if (options != 0) {
        return Answer(call, ERROR_INVALID_PARAMETER);
    }
    std::size_t index = 0;
    Key* found = FindKey(subKey, &index);
    if (found == nullptr) {
        return Answer(call, ERROR_FILE_NOT_FOUND);
    }
    if (!Granted(*found, samDesired)) {
        return Answer(call, ERROR_ACCESS_DENIED);
    }
    *result = OpenRegistryKey(index, samDesired);
    call.Add("key", [&] { return KeyName(*result); });
    return Answer(call, ERROR_SUCCESS);
}

LSTATUS RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize)
{
    Recorder call(Operation::RegSetValueExW, [&] {
        return Fields{{"key", KeyName(key)},
                      {"name", QuoteText(ReadText(valueName))},
                      {"reserved", Decimal(reserved)},
                      {"type", Decimal(type)},
                      {"data", data != nullptr ? "\"" + HexBytes(data, dataSize) + "\"" : "null"},
                      {"size", Decimal(dataSize)}};
    });
    if (const Fault* fault = FireFault(Operation::RegSetValueExW)) {
        return Answer(call, fault->Error);
    }
    OpenKey* open = nullptr;
    if (DWORD refused = UseKey(key, KEY_SET_VALUE, &open); refused != ERROR_SUCCESS) {
        return Answer(call, refused);
    }
    if (data == nullptr && dataSize != 0) {
        return Answer(call, ERROR_NOACCESS); // as Wine answers
    }
    if (reserved != 0) {
        return Answer(call, ERROR_INVALID_PARAMETER);
    }
    // A text whose size leaves out its terminating zero gets it counted in
    // when the code unit just past the size is zero, as the registry does;
    // that unit is read from the caller's memory.
    DWORD stored = dataSize;
    bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (text && data != nullptr && dataSize >= sizeof(WCHAR)) {
        // The unit past the size is looked at only when the last one is not
        // already a terminator.
        WCHAR last = 0;
        std::memcpy(&last, data + (dataSize / sizeof(WCHAR) - 1) * sizeof(WCHAR), sizeof(WCHAR));
        WCHAR next = 1;
        if (last != 0) {
            std::memcpy(&next, data + (dataSize / sizeof(WCHAR)) * sizeof(WCHAR), sizeof(WCHAR));
        }
        if (next == 0) {
            stored += sizeof(WCHAR);
        }
    }
    Value value;
    value.Type = type;
    value.Data.assign(data, data + stored);
    Values& values = Sim().Installed.Registry[open->KeyIndex].Values;
    if (auto* existing = FindValue(values, valueName)) {
        existing->second = value;
    } else {
        values.emplace_back(ReadText(valueName), value);
    }
    call.Add("stored", [stored] { return Decimal(stored); });
    return Answer(call, ERROR_SUCCESS);
}

LSTATUS RegDeleteValueW(HKEY key, const WCHAR* valueName)
{
    Recorder call(Operation::RegDeleteValueW, [&] {
        return Fields{{"key", KeyName(key)}, {"name", QuoteText(ReadText(valueName))}};
    });
    if (const Fault* fault = FireFault(Operation::RegDeleteValueW)) {
        return Answer(call, fault->Error);
    }
    OpenKey* open = nullptr;
    if (DWORD refused = UseKey(key, KEY_SET_VALUE, &open); refused != ERROR_SUCCESS) {
        return Answer(call, refused);
    }
    Values& values = Sim().Installed.Registry[open->KeyIndex].Values;
    if (auto* existing = FindValue(values, valueName)) {
        values.erase(values.begin() + (existing - values.data()));
        return Answer(call, ERROR_SUCCESS);
    }
    return Answer(call, ERROR_FILE_NOT_FOUND);
}

LSTATUS RegCloseKey(HKEY key)
{
    Recorder call(Operation::RegCloseKey, [&] { return Fields{{"key", KeyName(key)}}; });
    std::vector<OpenKey>& keys = Sim().Keys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (reinterpret_cast<HKEY>(keys[i].Id) == key) {
            // A kill stops the run before the key is closed; a failure is
            // answered with the key closed all the same.
            const Fault* fault = FireFault(Operation::RegCloseKey);
            keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(i));
            return Answer(call, fault != nullptr ? fault->Error : ERROR_SUCCESS);
        }
    }
    return Answer(call, ERROR_INVALID_HANDLE);
}

// NOLINTNEXTLINE(readability-non-const-parameter): the platform's signature
LSTATUS RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize)
{
    Recorder call(Operation::RegQueryValueExW, [&] {
        return Fields{{"key", KeyName(key)},
                      {"name", QuoteText(ReadText(valueName))},
                      {"size", dataSize != nullptr ? Decimal(*dataSize) : "null"}};
    });
    if (const Fault* fault = FireFault(Operation::RegQueryValueExW)) {
        return Answer(call, fault->Error);
    }
    OpenKey* open = nullptr;
    if (DWORD refused = UseKey(key, KEY_QUERY_VALUE, &open); refused != ERROR_SUCCESS) {
        return Answer(call, refused);
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return Answer(call, ERROR_INVALID_PARAMETER);
    }
    const auto* value = FindValue(Sim().Installed.Registry[open->KeyIndex].Values, valueName);
    if (value == nullptr) {
        return Answer(call, ERROR_FILE_NOT_FOUND);
    }
    return Answer(call, AnswerValue(call, value->second, type, data, dataSize));
}

LSTATUS CheckKeyAccess(HKEY root, const WCHAR* subKey, REGSAM access, BOOL* granted)
{
    Recorder call(Operation::CheckKeyAccess, [&] {
        return Fields{{"root", KeyName(root)}, {"path", QuoteText(ReadText(subKey))}, {"access", Hex(access)}};
    });
    *granted = FALSE;
    if (const Fault* fault = FireFault(Operation::CheckKeyAccess)) {
        return Answer(call, fault->Error);
    }
    if (root != HKEY_LOCAL_MACHINE) {
        return Answer(call, ERROR_INVALID_HANDLE);
    }
    std::size_t index = 0;
    const Key* found = FindKey(subKey, &index);
    if (found == nullptr) {
        return Answer(call, ERROR_FILE_NOT_FOUND);
    }
    *granted = Granted(*found, access) ? TRUE : FALSE;
    call.Add("granted", [&] { return Decimal(static_cast<std::uint64_t>(*granted)); });
    return Answer(call, ERROR_SUCCESS);
}

// NOLINTNEXTLINE(readability-non-const-parameter): the platform's signature
LSTATUS RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass, DWORD options,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition)
{
    Recorder call(Operation::RegCreateKeyExW, [&] { return KeyFields(key, subKey, options, samDesired); });
    if (const Fault* fault = FireFault(Operation::RegCreateKeyExW)) {
        return Answer(call, fault->Error);
    }
    if (key != HKEY_LOCAL_MACHINE || subKey == nullptr || result == nullptr) {
        return Answer(call, ERROR_INVALID_HANDLE);
    }
    if (reserved != 0 || keyClass != nullptr || security != nullptr || options != REG_OPTION_NON_VOLATILE) {
        return Answer(call, ERROR_INVALID_PARAMETER); // more than the double models
    }
    State& sim = Sim();
    std::size_t index = 0;
    Key* found = FindKey(subKey, &index);
    DWORD made = found == nullptr ? 1 : 2;
    if (found == nullptr) {
        // Only an administrator may make a key below the local machine root.
        if (!sim.Installed.Elevated) {
            return Answer(call, ERROR_ACCESS_DENIED);
        }
        Key created;
        created.Path = ReadText(subKey);
        sim.Installed.Registry.push_back(created);
        sim.KeysByPath = IndexByRegistryName(sim.Installed.Registry);
        index = sim.Installed.Registry.size() - 1;
    } else if (!Granted(*found, samDesired)) {
        return Answer(call, ERROR_ACCESS_DENIED);
    }
    *result = OpenRegistryKey(index, samDesired);
    if (disposition != nullptr) {
        *disposition = made;
    }
    call.Add("key", [&] { return KeyName(*result); });
    call.Add("disposition", [&] { return Decimal(made); });
    return Answer(call, ERROR_SUCCESS);
}

// NOLINTNEXTLINE(readability-non-const-parameter): the platform's signature
LSTATUS RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* nameSize, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataSize)
{
    Recorder call(Operation::RegEnumValueW, [&] {
        return Fields{{"key", KeyName(key)},
                      {"index", Decimal(index)},
                      {"nameSize", nameSize != nullptr ? Decimal(*nameSize) : "null"},
                      {"size", dataSize != nullptr ? Decimal(*dataSize) : "null"}};
    });
    if (const Fault* fault = FireFault(Operation::RegEnumValueW)) {
        return Answer(call, fault->Error);
    }
    OpenKey* open = nullptr;
    if (DWORD refused = UseKey(key, KEY_QUERY_VALUE, &open); refused != ERROR_SUCCESS) {
        return Answer(call, refused);
    }
    if (valueName == nullptr || nameSize == nullptr || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr)) {
        return Answer(call, ERROR_INVALID_PARAMETER);
    }
    const Values& values = Sim().Installed.Registry[open->KeyIndex].Values;
    if (index >= values.size()) {
        return Answer(call, ERROR_NO_MORE_ITEMS);
    }
    const std::u16string& name = values[index].first;
    if (name.size() >= *nameSize) {
        return Answer(call, ERROR_MORE_DATA);
    }
    std::copy(name.begin(), name.end(), valueName);
    valueName[name.size()] = 0;
    *nameSize = static_cast<DWORD>(name.size());
    call.Add("name", [&] { return QuoteText(name); });
    return Answer(call, AnswerValue(call, values[index].second, type, data, dataSize));
}

LSTATUS RegFlushKey(HKEY key)
{
    Recorder call(Operation::RegFlushKey, [&] { return Fields{{"key", KeyName(key)}}; });
    if (const Fault* fault = FireFault(Operation::RegFlushKey)) {
        return Answer(call, fault->Error);
    }
    return Answer(call, FindOpenKey(key) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

} // namespace simulated
} // namespace platform
