// The lenient HTML reader and the text builder on any text, in each vocabulary: the text never starts
// or ends with a space or line end, never holds two spaces or more than one empty line in a row or a
// lone CR, stays under the builder's limit; entities decode to no more units than they were written
// in; a charset found in any bytes is a short lower-case name; XML made ASCII holds ASCII only, and
// ASCII XML is left as it is.
#include <cstdint>
#include <string>

#include "documents/markup_text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void CheckShape(const std::u16string& text) {
    if (text.empty()) return;
    FUZZ_CHECK(text.front() != u' ' && text.front() != u'\r' && text.back() != u' ' && text.back() != u'\n',
               "text starts or ends with white space");
    FUZZ_CHECK(text.find(u"  ") == std::u16string::npos, "two spaces in a row");
    FUZZ_CHECK(text.find(u"\r\n\r\n\r\n") == std::u16string::npos, "more than one empty line");
    FUZZ_CHECK(text.find(u" \r\n") == std::u16string::npos && text.find(u"\r\n ") == std::u16string::npos,
               "a space at a line's end or start");
    for (size_t i = 0; i < text.size(); ++i)
        FUZZ_CHECK(text[i] != u'\r' || (i + 1 < text.size() && text[i + 1] == u'\n'), "a CR without its LF");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    std::u16string text;
    for (size_t i = 0; i + 1 < input.RestSize(); i += 2) {
        // Mostly ASCII, so tags and entities are formed often; the high byte still reaches every unit.
        const uint8_t low = input.Rest()[i], high = input.Rest()[i + 1];
        text += static_cast<char16_t>(high < 0xF0 ? low : (high << 8 | low));
    }
    const Vocabulary vocabularies[] = {HtmlRole, FictionBookRole, WordRole};
    TextBuilder builder(vocabularies[choice % 3], (choice & 4) != 0);
    ReadHtml(text.data(), text.size(), &builder);
    FUZZ_CHECK(!builder.TooLong(), "a short text counted as too long");
    if (choice & 8) builder.EndDocument(), ReadHtml(text.data(), text.size(), &builder);
    CheckShape(builder.Result());
    FUZZ_CHECK(builder.DocumentTitle().size() <= 1024, "title of %zu units", builder.DocumentTitle().size());

    const std::string ascii = XmlAsAscii(text.data(), text.size(), (choice & 16) != 0);
    bool wasAscii = true;
    for (char16_t c : text) wasAscii = wasAscii && c < 0x80;
    for (char c : ascii) FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80, "a byte past ASCII in the XML made ASCII");
    FUZZ_CHECK(!wasAscii || ascii == std::string(text.begin(), text.end()), "ASCII XML was changed");

    FUZZ_CHECK(DecodeEntities(text.data(), text.size()).size() <= text.size() + 1, "entities grew the text");
    const std::string charset = FindDeclaredCharset(data, size);
    FUZZ_CHECK(charset.size() <= 40, "a charset name of %zu bytes", charset.size());
    for (char c : charset) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'), "charset not in lower case: %s", charset.c_str());
    return 0;
}
