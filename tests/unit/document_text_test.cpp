// E-books and documents made here from strings, written to files and extracted: each format's text
// and title checked exactly, and damaged, hostile and protected books each refused with their reason.
#include "documents/document_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "documents/zip_archive.h"
#include "tests/book_files.h"

namespace {

using books::ZipItem;

std::string TempFile(const std::string& name, const std::string& bytes) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "in_txt_doc_" + std::to_string(GetCurrentProcessId()) + "_" + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

const std::string CHAPTER_ONE =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><!DOCTYPE html><html xmlns=\"http://www.w3.org/1999/xhtml\">"
    "<head><title>One</title><style>p { margin: 0 }</style></head><body><h1>Chapter One</h1>"
    "<p>It was a  dark&nbsp;night.</p><p>Tom &amp; Ann<br/>met &#8212; at&#x21;</p><script>var x = '<p>';</script>"
    "</body></html>";
const std::string CHAPTER_TWO = "<html><body><h2>Two</h2><ul><li>one<li>two</ul><!-- <p>gone</p> --></body></html>";
const std::wstring BOOK_TEXT = L"Chapter One\r\n\r\nIt was a dark night.\r\nTom & Ann\r\nmet \u2014 at!\r\n\r\n"
                               L"Two\r\n\r\none\r\ntwo";

const std::string FICTION_BOOK =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
    "xmlns:l=\"http://www.w3.org/1999/xlink\"><description><title-info><author><first-name>Lev</first-name>"
    "<last-name>Tolstoy</last-name></author><book-title>Short Story</book-title></title-info></description>"
    "<body><title><p>Part One</p></title><section><p>First line.</p><poem><stanza><v>Verse one</v><v>Verse two</v>"
    "</stanza></poem><p>Last<a l:href=\"#n1\" type=\"note\">1</a>.</p></section></body><body name=\"notes\">"
    "<section id=\"n1\"><p>A note.</p></section></body><binary id=\"i\" content-type=\"image/png\">AAAA</binary>"
    "</FictionBook>";
const std::wstring FICTION_TEXT = L"Part One\r\n\r\nFirst line.\r\n\r\nVerse one\r\nVerse two\r\n\r\nLast1.";

const std::string WORD_DOCUMENT =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><w:document "
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body><w:p><w:pPr><w:jc w:val=\"left\"/>"
    "</w:pPr><w:r><w:t>Hello</w:t></w:r>\n<w:r><w:t xml:space=\"preserve\"> world</w:t></w:r></w:p><w:p><w:r><w:t>A</w:t>"
    "<w:tab/><w:t>B</w:t></w:r></w:p><w:p><w:r><w:delText>gone</w:delText><w:instrText>PAGE</w:instrText></w:r></w:p>"
    "</w:body></w:document>";
const std::string WORD_PROPERTIES =
    "<?xml version=\"1.0\"?><cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/"
    "metadata/core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Report</dc:title>"
    "<dc:creator>Bea</dc:creator></cp:coreProperties>";

struct Book {
    const char* name;
    std::string bytes;
    std::wstring text, title;
};

// One small book per format, its whole text and title known.
std::vector<Book> SampleBooks() {
    return {
        {"book.epub", books::Epub("The Story", "Ann Author", {CHAPTER_ONE, CHAPTER_TWO}), BOOK_TEXT,
         L"Ann Author - The Story"},
        {"book.fb2", FICTION_BOOK, FICTION_TEXT, L"Lev Tolstoy - Short Story"},
        {"book.fb2.zip", books::Zip({{"book.fb2", FICTION_BOOK, true}}), FICTION_TEXT, L"Lev Tolstoy - Short Story"},
        {"cyrillic.fb2",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><FictionBook><description><title-info><book-title>"
         "\xCC\xE8\xF0</book-title></title-info></description><body><p>\xCF\xF0\xE8\xE2\xE5\xF2</p></body></FictionBook>",
         L"\u041F\u0440\u0438\u0432\u0435\u0442", L"\u041C\u0438\u0440"},
        {"cdata.fb2",
         "<FictionBook><body><section id=\"\xC3\xA9\"><p><![CDATA[M\xC3\xBCller]]> &amp; \xF0\x9F\x93\x96<!-- \xC3\xA9 --></p>"
         "</section></body></FictionBook>",
         L"M\u00FCller & \xD83D\xDCD6", L""},
        {"page.html",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
         "<title>\xC7\xE0\xE3\xEE\xEB\xEE\xE2\xEE\xEA</title></head><body><p>\xCF\xF0\xE8\xE2\xE5\xF2<div>Unclosed "
         "<b>bold<p>next &unknown; 1 < 2</body></html>",
         L"\u041F\u0440\u0438\u0432\u0435\u0442\r\nUnclosed bold\r\nnext &unknown; 1 < 2",
         L"\u0417\u0430\u0433\u043E\u043B\u043E\u0432\u043E\u043A"},
        {"page.xhtml", "<html><body><p>caf\xC3\xA9</p><table><tr><td>a</td><td>b</td></tr></table></body></html>",
         L"caf\u00E9\r\na b", L""},
        {"report.docx", books::Zip({{"word/document.xml", WORD_DOCUMENT, true}, {"docProps/core.xml", WORD_PROPERTIES}}),
         L"Hello world\r\nA B", L"Bea - Report"},
        {"letter.rtf", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 First paragraph.\\par Second \\b bold\\b0  text.\\par}",
         L"First paragraph.\r\nSecond bold text.", L""},
    };
}

// A reading given up by whoever asked for it (the player moved on) stops in the formats that can be
// long: books in chapters, FictionBooks and Word documents.
TEST(DocumentText, EachFormatGivesItsTextAndTitleExactly) {
    const std::atomic<bool> cancelled{true};
    for (const Book& book : SampleBooks()) {
        SCOPED_TRACE(book.name);
        const std::string path = TempFile(book.name, book.bytes);
        DocumentText out;
        EXPECT_TRUE(ExtractDocument(path.c_str(), out)) << out.error;
        EXPECT_EQ(book.text, out.text);
        EXPECT_EQ(book.title, out.title);
        EXPECT_EQ(book.title, ExtractDocumentTitle(path.c_str()));
        const std::string name = book.name;
        if (name == "book.epub" || name == "book.fb2" || name == "report.docx") {
            EXPECT_FALSE(ExtractDocument(path.c_str(), out, &cancelled) || !out.text.empty()) << "not cancelled";
        }
        DeleteFileA(path.c_str());
    }
}

struct Hostile {
    const char* what;
    const char* name;
    std::string bytes;
    std::string error;  // the whole message, or its start when it ends in "..."
};

std::string EpubWith(std::vector<ZipItem> more, bool deflate = true) {
    std::vector<ZipItem> items = books::EpubItems("T", "A", {CHAPTER_ONE}, deflate);
    items.insert(items.end(), more.begin(), more.end());
    return books::Zip(items);
}

std::string EncryptionRecord(const char* algorithm) {
    return std::string("<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
                       "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\"><enc:EncryptedData><enc:EncryptionMethod "
                       "Algorithm=\"") + algorithm + "\"/></enc:EncryptedData></encryption>";
}

std::string Nested(const std::string& open, const std::string& close, int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
}

// Damaged, hostile and protected books are refused with what is wrong, never read in part.
TEST(DocumentText, HostileBooksAreRefusedWithTheirReason) {
    std::vector<ZipItem> badChecksum = books::EpubItems("T", "A", {CHAPTER_ONE});
    badChecksum.back().wrongChecksum = true;
    std::vector<ZipItem> claimsTooMuch = books::EpubItems("T", "A", {CHAPTER_ONE}, false);
    claimsTooMuch.back().claimedSize = 300 << 20;
    std::vector<ZipItem> inflatesMore = books::EpubItems("T", "A", {CHAPTER_ONE});
    inflatesMore.back().claimedSize = 10;
    std::vector<ZipItem> escaping = books::EpubItems("T", "A", {});
    escaping[2].data = "<package><manifest><item id=\"x\" href=\"../../../secret.xhtml\" "
                       "media-type=\"application/xhtml+xml\"/></manifest><spine><itemref idref=\"x\"/></spine></package>";
    escaping.push_back({"secret.xhtml", "<p>outside</p>"});
    const std::string epub = books::Epub("T", "A", {CHAPTER_ONE});
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE lol [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><FictionBook><body><p>&c;&c;&c;</p></body></FictionBook>";
    const Hostile table[] = {
        {"rights record", "r.epub", EpubWith({{"META-INF/rights.xml", "<rights/>"}}), TEXT_DRM_PROTECTED},
        {"encrypted content", "e.epub",
         EpubWith({{"META-INF/encryption.xml", EncryptionRecord("http://www.w3.org/2001/04/xmlenc#aes128-cbc")}}),
         TEXT_DRM_PROTECTED},
        {"bad checksum", "c.epub", books::Zip(badChecksum), "The file is damaged: an entry fails its checksum"},
        {"claims over the limit", "l.epub", books::Zip(claimsTooMuch),
         "The file is too large: its entries claim more than 256 MB"},
        {"inflates past its claim", "i.epub", books::Zip(inflatesMore),
         "The file is damaged: an entry inflates to more than it claims"},
        {"cut in half", "h.epub", epub.substr(0, epub.size() / 2),
         "The file is damaged: it is not a zip archive, or its end is missing"},
        {"spine leaves the archive", "s.epub", books::Zip(escaping),
         "The file is damaged: its reading order names no document"},
        {"entity expansion", "x.fb2", laughs, "The file is damaged: its XML ..."},
        {"deep elements", "d.fb2", "<FictionBook><body>" + Nested("<section>", "</section>", 5000) + "</body></FictionBook>",
         "The file is damaged: its XML ..."},
        {"deep RTF groups", "g.rtf", "{\\rtf1 " + Nested("{", "}", 100000) + "}",
         "The file is damaged: its groups nest too deeply"},
        {"not RTF", "n.rtf", "plain words", "The file is damaged: it is not RTF"},
        {"no package", "p.docx", books::Zip({{"other.xml", "<a/>"}}),
         "The file is damaged: its main document (word/document.xml) is missing"},
    };
    for (const Hostile& book : table) {
        SCOPED_TRACE(book.what);
        const std::string path = TempFile(book.name, book.bytes);
        DocumentText out;
        EXPECT_FALSE(ExtractDocument(path.c_str(), out));
        EXPECT_TRUE(out.text.empty());
        const std::string& want = book.error;
        if (want.size() > 3 && want.compare(want.size() - 3, 3, "...") == 0)
            EXPECT_EQ(want.substr(0, want.size() - 3), out.error.substr(0, want.size() - 3));
        else
            EXPECT_EQ(want, out.error);
        DeleteFileA(path.c_str());
    }
}

// A long FictionBook in Cyrillic is read whole in each encoding such books come in: UTF-8 read in
// pieces must never split a character, and UTF-16 and code pages are given to the XML reader as UTF-8.
TEST(DocumentText, LongCyrillicFictionBookIsReadWholeInEachEncoding) {
    std::wstring body, expected;
    for (int n = 0; n < 20000; ++n) {
        const std::wstring paragraph = L"\u041F\u0440\u0438\u0432\u0435\u0442 " + std::to_wstring(n);
        body += L"<p>" + paragraph + L"</p>";
        expected += (n ? L"\r\n" : L"") + paragraph;
    }
    const auto book = [&](const char* encoding) {
        return L"<?xml version=\"1.0\" encoding=\"" + std::wstring(encoding, encoding + std::strlen(encoding)) +
               L"\"?><FictionBook><body><section>" + body + L"</section></body></FictionBook>";
    };
    const auto encoded = [](const std::wstring& text, UINT codePage) {
        std::string bytes(text.size() * 4, '\0');
        bytes.resize(WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                                         static_cast<int>(bytes.size()), nullptr, nullptr));
        return bytes;
    };
    const std::wstring utf16 = book("utf-16");
    const struct {
        const char* name;
        std::string bytes;
    } table[] = {
        {"utf8.fb2", encoded(book("utf-8"), CP_UTF8)},
        {"utf16.fb2", "\xFF\xFE" + std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2)},
        {"cp1251.fb2", encoded(book("windows-1251"), 1251)},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const std::string path = TempFile(row.name, row.bytes);
        DocumentText out;
        EXPECT_TRUE(ExtractDocument(path.c_str(), out)) << out.error;
        EXPECT_TRUE(out.text == expected) << out.text.size() << " units of " << expected.size();
        DeleteFileA(path.c_str());
    }
}

// An archive is read where its entries lie: a chapter that inflates in many pieces comes out whole,
// and the picture beside it is never read.
TEST(DocumentText, PackedBooksAreReadWithoutTheirPictures) {
    class CountingBytes : public MemoryZipBytes {
    public:
        using MemoryZipBytes::MemoryZipBytes;
        bool ReadAt(uint64_t offset, size_t count, uint8_t* out) override {
            read += count;
            return MemoryZipBytes::ReadAt(offset, count, out);
        }
        uint64_t read = 0;
    };
    std::string chapter;
    for (uint32_t seed = 7; chapter.size() < (1u << 20);) {
        seed = seed * 1664525u + 1013904223u;
        chapter += static_cast<char>('a' + (seed >> 24) % 26);
    }
    const std::string archive = books::Zip({{"c.xhtml", chapter, true}, {"picture.jpg", std::string(8u << 20, 'p')}});
    CountingBytes bytes(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
    ZipArchive zip;
    std::string error, read;
    ASSERT_TRUE(zip.Open(&bytes, &error)) << error;
    ASSERT_TRUE(zip.Read(*zip.Find("c.xhtml"), &read, &error)) << error;
    EXPECT_TRUE(read == chapter);
    // All but the picture, and the last 64 KB where the end record is looked for.
    const uint64_t endSearch = 22 + 0xFFFF;
    EXPECT_LE(bytes.read, archive.size() - (8u << 20) + endSearch) << "the picture was read";
}

// The readers that run only here (XmlLite for FictionBook and Word, Rich Edit for RTF) and the others,
// given each sample book damaged at random: bytes changed, cut short, markup opened: each ends with a
// text or with a reason, never a crash or a hang.
TEST(DocumentText, RandomlyDamagedBooksOfEveryFormatEndInTextOrAReason) {
    uint32_t seed = 12345;
    const auto next = [&seed](uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    const char inserted[] = "<{&\\>\xff";
    for (const Book& book : SampleBooks()) {
        SCOPED_TRACE(book.name);
        for (int round = 0; round < 150; ++round) {
            std::string bytes = book.bytes;
            for (uint32_t changes = 1 + next(4); changes > 0 && !bytes.empty(); --changes) {
                const size_t at = next(static_cast<uint32_t>(bytes.size()));
                switch (next(3)) {
                case 0: bytes[at] = static_cast<char>(next(256)); break;
                case 1: bytes.resize(at); break;
                default: bytes.insert(at, 1, inserted[next(sizeof inserted - 1)]); break;
                }
            }
            const std::string path = TempFile(book.name, bytes);
            DocumentText out;
            if (ExtractDocument(path.c_str(), out))
                EXPECT_TRUE(out.error.empty()) << "round " << round;
            else
                EXPECT_TRUE(!out.error.empty() && out.text.empty()) << "round " << round;
            ExtractDocumentTitle(path.c_str());
            DeleteFileA(path.c_str());
        }
    }
}

// Fonts obfuscated as EPUB allows are no protection: such a book is read.
TEST(DocumentText, ObfuscatedFontsAloneAreNoProtection) {
    const std::string path = TempFile(
        "f.epub", EpubWith({{"META-INF/encryption.xml", EncryptionRecord("http://www.idpf.org/2008/embedding")}}));
    DocumentText out;
    EXPECT_TRUE(ExtractDocument(path.c_str(), out)) << out.error;
    EXPECT_EQ(L"Chapter One\r\n\r\nIt was a dark night.\r\nTom & Ann\r\nmet \u2014 at!", out.text);
    DeleteFileA(path.c_str());
}

}  // namespace
