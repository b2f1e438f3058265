// Registry key and value names compare without regard to the letter case of
// ASCII letters, one UTF-16 code unit at a time. (The registry also folds
// letters beyond ASCII; the tool's names are ASCII, see docs/simulator.md.)
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace simulator {

// A name in the one letter case by which names are compared.
std::u16string FoldedRegistryName(const char16_t* name, std::size_t length);

bool SameRegistryName(const char16_t* first, std::size_t firstLength, const char16_t* second, std::size_t secondLength);
bool SameRegistryName(const std::u16string& first, const std::u16string& second);

// A hash of a name in the one letter case: names that are the same have the
// same hash.
std::uint64_t RegistryNameHash(const char16_t* name, std::size_t length);

// The keys' paths by hash, each with the key's index, in order: what a lookup
// by path searches through, at 16 bytes a key.
using RegistryNameIndex = std::vector<std::pair<std::uint64_t, std::size_t>>;
template <class Key> RegistryNameIndex IndexByRegistryName(const std::vector<Key>& keys)
{
    RegistryNameIndex index;
    index.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        index.emplace_back(RegistryNameHash(keys[i].Path.data(), keys[i].Path.size()), i);
    }
    std::sort(index.begin(), index.end());
    return index;
}

// The first key of the index whose path is that name; keys.size() when none is.
template <class Key>
std::size_t FindByRegistryName(const RegistryNameIndex& index, const std::vector<Key>& keys, const char16_t* name,
                               std::size_t length)
{
    std::uint64_t hash = RegistryNameHash(name, length);
    auto at = std::lower_bound(index.begin(), index.end(), std::make_pair(hash, std::size_t{0}));
    for (; at != index.end() && at->first == hash; ++at) {
        const std::u16string& path = keys[at->second].Path;
        if (SameRegistryName(path.data(), path.size(), name, length)) {
            return at->second;
        }
    }
    return keys.size();
}

} // namespace simulator
