// How much of a long text the Text info window is given.
#include <gtest/gtest.h>

#include <string>

#include "infowindow/text_decoding.h"

namespace {

std::u16string Limited(std::u16string text, size_t limit) {
    text.push_back(u'\0');
    size_t kept = LimitShownText(&text[0], limit);
    std::u16string shown(text.c_str());
    EXPECT_EQ(shown.size(), kept);
    return shown;
}

TEST(ShownText, ShorterTextsAreLeftWhole) {
    EXPECT_EQ(u"", Limited(u"", 4));
    EXPECT_EQ(u"abc", Limited(u"abc", 4));
    EXPECT_EQ(u"abcd", Limited(u"abcd", 4));
}

TEST(ShownText, LongerTextsEndAtTheLimitButNeverInsideASurrogatePair) {
    EXPECT_EQ(u"abcd", Limited(u"abcdefgh", 4));
    // U+1F600 is D83D DE00: cut after its first half, the whole pair goes.
    EXPECT_EQ(u"abc", Limited(u"abc\U0001F600xyz", 4));
    EXPECT_EQ(u"ab\U0001F600", Limited(u"ab\U0001F600xyz", 4));
    EXPECT_EQ(u"", Limited(u"\U0001F600", 1));
}

}  // namespace
