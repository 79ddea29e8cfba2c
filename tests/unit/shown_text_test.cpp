// How much of a long text the Text info window is given, and the pieces it is given in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infowindow/reading_along.h"
#include "infowindow/text_control.h"
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

// The pieces of a text, cut at most `slice` units long, put together again; each cut is checked.
std::u16string InPieces(const std::u16string& text, size_t slice) {
    std::u16string joined;
    for (size_t start = 0; start < text.size();) {
        const size_t end = NextSliceEnd(text.c_str(), start, text.size(), slice);
        EXPECT_GT(end, start);
        EXPECT_LE(end - start, slice);
        if (end < text.size()) {
            EXPECT_FALSE(text[end - 1] == u'\r' && text[end] == u'\n') << "a line break cut at " << end;
            EXPECT_FALSE(text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) << "a surrogate pair cut at " << end;
        }
        joined += text.substr(start, end - start);
        start = end;
    }
    return joined;
}

// A piece ends after a line break in its second half when it has one; a CR LF pair or a surrogate pair
// is never split between two pieces, which would show two line breaks or two broken characters.
TEST(ShownText, PiecesForTheControlNeverSplitALineBreakOrACharacter) {
    const std::u16string lines = u"one two\r\nthree four\r\nfive six seven\r\n";
    EXPECT_EQ(lines, InPieces(lines, 16));
    EXPECT_EQ(9u, NextSliceEnd(lines.c_str(), 0, lines.size(), 16)) << "after the first line break";
    const std::u16string breaks = u"abcdefg\r\nhij";
    EXPECT_EQ(7u, NextSliceEnd(breaks.c_str(), 0, breaks.size(), 8)) << "CR and LF go together";
    const std::u16string smiles = u"abc\U0001F600\U0001F600\U0001F600";
    EXPECT_EQ(3u, NextSliceEnd(smiles.c_str(), 0, smiles.size(), 4)) << "both halves go together";
    EXPECT_EQ(smiles, InPieces(smiles, 4));
    EXPECT_EQ(u"", InPieces(u"", 4));
    // CR CR LF is one line end to the control, as is CR LF after a lone CR.
    const std::u16string twice = u"abcdef\r\r\nxyz";
    EXPECT_EQ(6u, NextSliceEnd(twice.c_str(), 0, twice.size(), 7)) << "before CR CR LF, not inside it";
    EXPECT_EQ(6u, NextSliceEnd(twice.c_str(), 0, twice.size(), 8));
    const std::u16string lone = u"abcde\r\r\r\nxyz";
    EXPECT_EQ(6u, NextSliceEnd(lone.c_str(), 0, lone.size(), 7)) << "after the lone CR";
}

// The control lays out a paragraph whole on every change: one longer than a piece goes in whole, alone.
TEST(ShownText, AParagraphLongerThanAPieceGoesInAsOnePiece) {
    const std::u16string oneLine(100, u'a');
    EXPECT_EQ(100u, NextPieceEnd(oneLine.c_str(), 0, 100, 16)) << "a text on one line";
    EXPECT_EQ(100u, NextPieceEnd(oneLine.c_str(), 10, 100, 16)) << "the rest of it";
    const std::u16string text = u"one\r\n" + oneLine + u"\r\r\ntwo\r\nthree four\r\nfive six seven\r\n";
    EXPECT_EQ(5u, NextPieceEnd(text.c_str(), 0, text.size(), 16)) << "up to the long paragraph";
    EXPECT_EQ(108u, NextPieceEnd(text.c_str(), 5, text.size(), 16)) << "all of it, with its CR CR LF";
    EXPECT_EQ(123u, NextPieceEnd(text.c_str(), 108, text.size(), 16)) << "a short paragraph is cut as before";
}

// The units the control folds away, and where text positions lie in the control.
TEST(ShownText, EveryLineEndIsOneCharacterInTheControl) {
    const std::u16string text = u"a\r\nb\r\r\nc\rd\ne\r\r\r\nf";
    const std::vector<uint32_t> folded = FindFoldedUnits(text.c_str(), text.size());
    EXPECT_EQ((std::vector<uint32_t>{2, 5, 6, 14, 15}), folded);
    EXPECT_EQ(2u, ControlPosition(folded, 3)) << "b";
    EXPECT_EQ(4u, ControlPosition(folded, 7)) << "c";
    EXPECT_EQ(1u, ControlPosition(folded, 2)) << "the LF lies on its line end";
    EXPECT_EQ(11u, ControlPosition(folded, 16)) << "f";
}

}  // namespace
