#include "platform/sim/registry_names.h"

#include <gtest/gtest.h>

#include "platform/sim/simulator.h"

namespace {

TEST(RegistryNames, CompareByTheLetterCasesThatMapToEachOther)
{
    struct Case {
        std::u16string first;
        std::u16string second;
        bool same;
    } cases[] = {
        {u"WapiSupport", u"WAPISUPPORT", true},
        {u"\u0434", u"\u0414", true},  // Cyrillic de
        {u"\u03c3", u"\u03a3", true},  // sigma
        {u"\u03c2", u"\u03a3", false}, // final sigma: its upper case maps back to the other sigma
        {u"\u212a", u"k", false},      // Kelvin sign
        {u"\u0130", u"i", false},      // capital I with dot
        {u"\u0131", u"I", false},      // dotless i
        {u"\u01c5", u"\u01c6", false}, // a title-case letter
        {u"\u01c4", u"\u01c6", true},
        {u"\u2c65", u"\u023a", true},          // the lower case lies above the upper
        {u"\U00010428", u"\U00010400", false}, // beyond the BMP: code units, not letters
        {u"a", u"ab", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(simulator::SameRegistryName(c.first, c.second), c.same)
            << simulator::Utf16ToUtf8(c.first) << " " << simulator::Utf16ToUtf8(c.second);
    }
}

TEST(RegistryNames, KeysAndValuesAreFoundInAnyLetterCaseAndAStandardUserOnlyReads)
{
    simulator::Machine machine;
    simulator::Key key;
    key.Path = u"SYSTEM\\\u03a3";
    key.Values.emplace_back(u"\u0414", simulator::Value{4, {1, 0, 0, 0}});
    machine.Registry.push_back(key);
    machine.Elevated = false;
    simulator::Install(machine);

    using namespace platform;
    HKEY opened = nullptr;
    constexpr REGSAM KEY_READ = 0x20019;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\\u03c3", 0, KEY_READ, &opened), 0);
    EXPECT_EQ(RegCloseKey(opened), 0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\\u03c3", 0, KEY_ALL_ACCESS, &opened),
              static_cast<LSTATUS>(simulator::ERROR_ACCESS_DENIED));
    simulator::Current().Elevated = true;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\\u03c3", 0, KEY_ALL_ACCESS, &opened), 0);
    const BYTE data[] = {0x31, 0, 0, 0};
    EXPECT_EQ(RegSetValueExW(opened, u"\u0434", 0, REG_SZ, data, 4), 0);
    EXPECT_EQ(RegCloseKey(opened), 0);
    ASSERT_EQ(simulator::Current().Registry[0].Values.size(), 1u);
    EXPECT_EQ(simulator::Current().Registry[0].Values[0].first, u"\u0414"); // the stored name stays
    EXPECT_EQ(simulator::Current().Registry[0].Values[0].second.Type, REG_SZ);
}

} // namespace
