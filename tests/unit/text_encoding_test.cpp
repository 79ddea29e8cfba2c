// The rule that says how a text file's bytes are read, shared by the Text info window and the voice.
#include <gtest/gtest.h>

#include <string>

#include "base/text_encoding.h"

namespace {

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TEST(TextEncoding, ByteOrderMarks) {
    struct Row {
        std::string bytes;
        bool found;
        TextEncoding encoding;
        unsigned length;
    };
    for (const Row& row : {Row{"\xEF\xBB\xBFx", true, TextEncoding::Utf8, 3}, Row{"\xFF\xFEx", true, TextEncoding::Utf16LE, 2},
                           Row{"\xFE\xFFx", true, TextEncoding::Utf16BE, 2}, Row{"\xEF\xBB", false, TextEncoding::Ansi, 0},
                           Row{"ab", false, TextEncoding::Ansi, 0}}) {
        const ByteOrderMark mark = FindByteOrderMark(Bytes(row.bytes), row.bytes.size());
        EXPECT_EQ(row.found, mark.found) << row.bytes;
        EXPECT_EQ(row.encoding, mark.encoding) << row.bytes;
        EXPECT_EQ(row.length, mark.length) << row.bytes;
    }
}

// Whole, and a byte at a time: a sequence split between two pieces is judged the same.
TEST(TextEncoding, BytesWithoutAMarkAreUtf8OnlyWhenValidWithAMultiByteSequence) {
    struct Row {
        const char* what;
        std::string bytes;
        TextEncoding verdict;
    };
    for (const Row& row : {Row{"ASCII", "plain text", TextEncoding::Ansi},
                           Row{"two-byte", "caf\xC3\xA9", TextEncoding::Utf8},
                           Row{"curly quotes", "\xE2\x80\x9Cquoted\xE2\x80\x9D", TextEncoding::Utf8},
                           Row{"four-byte", "\xF0\x9F\x98\x80", TextEncoding::Utf8},
                           Row{"Windows-1252", "caf\xE9 na\xEFve", TextEncoding::Ansi},
                           Row{"overlong", "\xC0\xAF", TextEncoding::Ansi},
                           Row{"surrogate", "\xED\xA0\x80", TextEncoding::Ansi},
                           Row{"above U+10FFFF", "\xF4\x90\x80\x80", TextEncoding::Ansi},
                           Row{"cut at the end", "ok \xE2\x80", TextEncoding::Ansi},
                           Row{"stray continuation", "a\x80z \xC3\xA9", TextEncoding::Ansi}}) {
        Utf8Scan whole;
        whole.Add(Bytes(row.bytes), row.bytes.size());
        EXPECT_EQ(row.verdict, whole.Verdict()) << row.what;
        Utf8Scan piecewise;
        for (size_t i = 0; i < row.bytes.size(); ++i) piecewise.Add(Bytes(row.bytes) + i, 1);
        EXPECT_EQ(row.verdict, piecewise.Verdict()) << row.what << ", a byte at a time";
    }
}

std::u16string Decoded(const std::string& bytes, size_t pieceSize) {
    std::u16string text;
    std::string pending;
    for (size_t at = 0; at < bytes.size() || !pending.empty();) {
        const size_t take = std::min(pieceSize, bytes.size() - at);
        pending += bytes.substr(at, take);
        at += take;
        std::u16string out(pending.size(), u'\0');
        size_t consumed = 0;
        out.resize(Utf8ToUtf16(Bytes(pending), pending.size(), at == bytes.size(), &out[0], out.size(), &consumed));
        text += out;
        pending.erase(0, consumed);
        if (at == bytes.size() && consumed == 0) break;
    }
    return text;
}

// Every invalid byte becomes U+FFFD and the text goes on; pieces of any size give the same text.
TEST(TextEncoding, Utf8DecodesInPiecesAndKeepsWhatFollowsABadByte) {
    struct Row {
        std::string bytes;
        std::u16string text;
    };
    for (const Row& row : {Row{"\xE2\x80\x9CHi\xE2\x80\x94there\xE2\x80\x9D", u"\u201CHi\u2014there\u201D"},
                           Row{"smile \xF0\x9F\x98\x80!", u"smile \U0001F600!"},
                           Row{"a\xFF" "b\xC3", u"a\uFFFDb\uFFFD"},
                           Row{"\xED\xA0\x80z", u"\uFFFD\uFFFD\uFFFDz"}}) {
        for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{64}})
            EXPECT_EQ(row.text, Decoded(row.bytes, piece)) << "pieces of " << piece;
    }
}

TEST(TextEncoding, BigEndianUtf16) {
    const std::string bytes("\x00H\x04\x1F\xD8\x3D\xDE\x00", 8);
    char16_t out[4] = {};
    SwapUtf16Bytes(Bytes(bytes), 4, out);
    EXPECT_EQ(u"H\u041F\U0001F600", std::u16string(out, 4));
}

}  // namespace
