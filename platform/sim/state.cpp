#include "platform/sim/state.h"

namespace simulator {

using namespace platform;

State& Sim()
{
    static State state;
    return state;
}

DeviceSet* FindSet(HDEVINFO handle)
{
    for (DeviceSet& set : Sim().Sets) {
        if (reinterpret_cast<HDEVINFO>(set.Id) == handle) {
            return &set;
        }
    }
    return nullptr;
}

std::int64_t MemberIndex(const DeviceSet* set, const SP_DEVINFO_DATA* deviceInfo)
{
    if (set == nullptr || deviceInfo == nullptr || deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA) ||
        deviceInfo->Reserved != set->Id || deviceInfo->DevInst == 0 || deviceInfo->DevInst > set->Members.size()) {
        return -1;
    }
    return deviceInfo->DevInst - 1;
}

Key* FindKey(const WCHAR* path, std::size_t* index)
{
    State& sim = Sim();
    std::vector<Key>& registry = sim.Installed.Registry;
    std::size_t found = FindByRegistryName(sim.KeysByPath, registry, path != nullptr ? path : u"", TextLength(path));
    if (found == registry.size()) {
        return nullptr;
    }
    *index = found;
    return &registry[found];
}

OpenKey* FindOpenKey(HKEY handle)
{
    for (OpenKey& key : Sim().Keys) {
        if (reinterpret_cast<HKEY>(key.Id) == handle) {
            return &key;
        }
    }
    return nullptr;
}

std::size_t TextLength(const WCHAR* text)
{
    return text != nullptr ? std::char_traits<WCHAR>::length(text) : 0;
}

std::u16string ReadText(const WCHAR* text)
{
    return std::u16string(text != nullptr ? text : u"", TextLength(text));
}

} // namespace simulator
