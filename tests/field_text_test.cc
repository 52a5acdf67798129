// What the pass makes of a field's text besides its number: how a message
// shows it, and whether it stands for a missing value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "missing-value.h"
#include "text-escape.h"

namespace {

std::string shown(const std::string &text)
{
    char out[XT_ESCAPE_ROOM];
    return xt_escape_text(text.data(), text.size(), out);
}

TEST(EscapeText, ShowsEveryByteReadably)
{
    const struct {
        std::string text, want;
    } cases[] = {
        {"12.5", "12.5"},
        {"", ""},
        {"a\\b \"c\"", "a\\b \"c\""}, // backslash and quotes as they are
        {std::string("1\0002", 3), "1\\x002"},
        {"\r\n\t\x1b[2J\x7f", "\\r\\n\\t\\x1b[2J\\x7f"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"\xef\xbb\xbf" "1", "\xef\xbb\xbf" "1"}, // a mark inside the text is a character
        {"\xc2\x9b" "31m", "\\xc2\\x9b" "31m"},   // C1 control (CSI)
        {"\xff\xfe" "1", "\\xff\\xfe" "1"},
        {"\xc3", "\\xc3"},                       // cut short
        {"\xc0\xaf", "\\xc0\\xaf"},              // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},     // surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, // above U+10FFFF
        {"\xe2\x82" "x", "\\xe2\\x82" "x"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(shown(c.text), c.want) << c.want;
}

TEST(EscapeText, CutsAfterSixtyFourBytesAtACharacterBoundary)
{
    const std::string a64(64, 'a');
    EXPECT_EQ(shown(a64), a64);
    EXPECT_EQ(shown(a64 + "b"), a64 + "...");
    EXPECT_EQ(shown(std::string(30000, '7')), std::string(64, '7') + "...");
    // A character that would cross the 64th byte is left out whole.
    const std::string a63(63, 'a');
    EXPECT_EQ(shown(a63 + "\xc3\xa9"), a63 + "...");
    EXPECT_EQ(shown(a63 + "\x01"), a63 + "\\x01");
    // The worst case fills the room exactly.
    const std::string worst(100, '\x01');
    std::string want;
    for (int i = 0; i < 64; ++i)
        want += "\\x01";
    EXPECT_EQ(shown(worst), want + "...");
    EXPECT_EQ(want.size() + 4, XT_ESCAPE_ROOM);
}

TEST(MissingValue, OnlyTheListedWholeTexts)
{
    for (const char *t : {"", "NA", "N/A", "NaN", "nan", "NULL", "null"})
        EXPECT_TRUE(is_missing_value(t, std::strlen(t))) << t;
    for (const char *t : {" ", "na", "Na", "NAN", "n/a", "Null", "nil", "-", "0",
                          "NA ", " NA", "NULLS", "N", "inf", "-nan"})
        EXPECT_FALSE(is_missing_value(t, std::strlen(t))) << t;
    // The length decides, not a terminator.
    EXPECT_TRUE(is_missing_value("NAN", 2));
    EXPECT_FALSE(is_missing_value("NA", 1));
}

} // namespace
