#include "common/message_output.h"

#include <gtest/gtest.h>

#include "platform/sim/simulator.h"

namespace {

TEST(PrintMessage, InsertsWideTextAsUtf8)
{
    struct Case {
        std::u16string text;
        std::string utf8;
    } cases[] = {
        {u"WapiSupport", "WapiSupport"},
        {u"Caf\u00e9 \u2014 \u65e5\u672c", "Caf\xc3\xa9 \xe2\x80\x94 \xe6\x97\xa5\xe6\x9c\xac"},
        {u"\u007f\u0080\u07ff\u0800\uffff", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"}, // each length's bounds
        {u"\U0001F4F6", "\xf0\x9f\x93\xb6"},                                                 // a pair of surrogates
        {u"a\xD800z", "a\xef\xbf\xbdz"},                                                     // a high surrogate alone
        {u"a\xDC00\xD800", "a\xef\xbf\xbd\xef\xbf\xbd"}, // low then high, and a high at the end
    };
    for (const Case& c : cases) {
        simulator::Install({});
        PrintMessage("Key=%ws\n", c.text.c_str());
        EXPECT_EQ(simulator::Output(), "Key=" + c.utf8 + "\n");
    }
}

TEST(PrintMessage, FormatsTheOtherConversionsAndLongLines)
{
    simulator::Install({});
    std::u16string longText(700, u'\u00e9'); // 1400 bytes of UTF-8: more than one write
    PrintMessage("%d%% of %u %s %q! %ws|", -5, 7u, "x", longText.c_str());
    std::string expected = "-5% of 7 x %q! ";
    for (int i = 0; i < 700; ++i) {
        expected += "\xc3\xa9";
    }
    EXPECT_EQ(simulator::Output(), expected + "|");
    // Each write holds whole UTF-8 sequences, as a console's decoder needs.
    for (const simulator::Call& call : simulator::Trace()) {
        EXPECT_EQ(call.Argument("text").find("\xef\xbf\xbd"), std::string::npos);
    }
}

} // namespace
