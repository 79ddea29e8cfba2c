#include "documents/document_text.h"

#include <windows.h>
#include <richedit.h>
#include <xmllite.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/scoped.h"
#include "base/text_encoding.h"
#include "documents/book_package.h"
#include "documents/damaged_file.h"
#include "documents/markup_text.h"
#include "documents/xml_walk.h"
#include "documents/zip_archive.h"

const char TEXT_DRM_PROTECTED[] = "This book is protected by DRM and cannot be read aloud";

namespace {

enum class Format { None, Epub, FictionBook, Html, Rtf, Docx };

bool EndsWith(const char* name, const char* ending) {
    const size_t length = std::strlen(name), endingLength = std::strlen(ending);
    return length >= endingLength && lstrcmpiA(name + length - endingLength, ending) == 0;
}

Format FormatOf(const char* name) {
    if (!name) return Format::None;
    if (EndsWith(name, ".epub")) return Format::Epub;
    if (EndsWith(name, ".fb2") || EndsWith(name, ".fb2.zip")) return Format::FictionBook;
    if (EndsWith(name, ".htm") || EndsWith(name, ".html") || EndsWith(name, ".xhtml")) return Format::Html;
    if (EndsWith(name, ".rtf")) return Format::Rtf;
    if (EndsWith(name, ".docx")) return Format::Docx;
    return Format::None;
}

// Whether whoever asked for the text no longer wants it: checked between chapters and elements.
struct CancelFlag {
    const std::atomic<bool>* flag = nullptr;
    bool Raised() const { return flag && flag->load(std::memory_order_relaxed); }
};

bool Cancelled(std::string* error) {
    *error = "The reading was cancelled";
    return false;
}

// wchar_t is a UTF-16 unit here: the text is copied as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed over as wchar_t");
std::wstring Wide(const std::u16string& text) { return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size()); }

// The start of a FictionBook or a page holds its title: a long one is not read whole for it.
constexpr DWORD TITLE_READ_BYTES = 1u << 20;

// The file's bytes, or its first atMost.
bool ReadFileBytes(const char* path, std::string* bytes, std::string* error, DWORD atMost = MAXDWORD) {
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size)) {
        *error = "The file cannot be opened";
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > DOCUMENT_MOST_FILE_BYTES) {
        *error = "The file is too large to be read as a document";
        return false;
    }
    bytes->resize(std::min<size_t>(static_cast<size_t>(size.QuadPart), atMost));
    DWORD read = 0;
    if (!bytes->empty() && (!ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr) ||
                            read != bytes->size())) {
        *error = "The file cannot be read";
        return false;
    }
    return true;
}

// A packed book read where its parts lie: its pictures and fonts are never read, so its size does not
// matter, only what its text inflates to.
class FileZipBytes : public ZipBytes {
public:
    explicit FileZipBytes(const char* path)
        : file_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        LARGE_INTEGER size = {};
        opened_ = file_.IsValid() && GetFileSizeEx(file_.Get(), &size);
        size_ = opened_ ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    bool Opened() const { return opened_; }
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, size_t count, uint8_t* out) override {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        return count <= MAXDWORD && ReadFile(file_.Get(), out, static_cast<DWORD>(count), &read, &at) && read == count;
    }

private:
    ScopedHandle file_;
    bool opened_ = false;
    uint64_t size_ = 0;
};

bool Narrow(const std::u16string& text, std::string* out) {
    out->clear();
    for (char16_t c : text) {
        if (c > 0x7F) return false;
        *out += static_cast<char>(c);
    }
    return true;
}

// ---- EPUB ----

// The package document's path from META-INF/container.xml.
class ContainerVisitor : public XmlVisitor {
public:
    std::u16string packagePath;
    bool Start(const std::u16string& name, IXmlReader* reader) override {
        if (name != u"rootfile") return true;
        packagePath = Attribute(reader, u"full-path");
        return packagePath.empty();  // the first package is the book
    }
    bool End(const std::u16string&) override { return true; }
    void Text(const char16_t*, size_t) override {}
};

// The algorithms that META-INF/encryption.xml names.
class EncryptionVisitor : public XmlVisitor {
public:
    std::vector<std::string> algorithms;
    bool Start(const std::u16string& name, IXmlReader* reader) override {
        if (name != u"encryptionmethod") return true;
        std::string algorithm;
        Narrow(Attribute(reader, u"Algorithm"), &algorithm);
        algorithms.push_back(algorithm);
        return true;
    }
    bool End(const std::u16string&) override { return true; }
    void Text(const char16_t*, size_t) override {}
};

// A title and a first author, from Dublin Core elements (title, creator) inside a metadata record.
class MetadataVisitor : public XmlVisitor {
public:
    std::u16string title, author;
    bool Start(const std::u16string& name, IXmlReader*) override {
        into_ = name == u"title" && title.empty() ? &title : name == u"creator" && author.empty() ? &author : nullptr;
        return true;
    }
    bool End(const std::u16string&) override {
        into_ = nullptr;
        return true;
    }
    void Text(const char16_t* text, size_t count) override {
        if (into_) into_->append(text, count);
    }

private:
    std::u16string* into_ = nullptr;
};

class PackageVisitor : public MetadataVisitor {
public:
    PackageDocument package;
    bool Start(const std::u16string& name, IXmlReader* reader) override {
        MetadataVisitor::Start(name, reader);
        if (name == u"item") {
            ManifestItem item;
            Narrow(Attribute(reader, u"id"), &item.id);
            Utf8(Attribute(reader, u"href"), &item.href);
            Narrow(Attribute(reader, u"media-type"), &item.mediaType);
            Narrow(Attribute(reader, u"properties"), &item.properties);
            package.manifest.push_back(std::move(item));
        } else if (name == u"itemref") {
            SpineItem entry;
            Narrow(Attribute(reader, u"idref"), &entry.idref);
            entry.linear = Attribute(reader, u"linear") != u"no";
            package.spine.push_back(std::move(entry));
        }
        return true;
    }

private:
    static void Utf8(const std::u16string& text, std::string* out) {
        const std::wstring wide = Wide(text);
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        out->assign(bytes > 0 ? bytes : 0, '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &(*out)[0], bytes, nullptr, nullptr);
    }
};

bool WalkEntry(ZipArchive& zip, const ZipEntry& entry, XmlVisitor* visitor, std::string* error) {
    std::string bytes;
    return zip.Read(entry, &bytes, error) && WalkXml(bytes, visitor, error);
}

bool CheckNotProtected(ZipArchive& zip, std::string* error) {
    EncryptionVisitor encryption;
    if (const ZipEntry* entry = zip.Find("META-INF/encryption.xml"))
        if (!WalkEntry(zip, *entry, &encryption, error)) return false;
    if (!IsProtectedBook(zip.Find("META-INF/rights.xml") != nullptr, encryption.algorithms)) return true;
    *error = TEXT_DRM_PROTECTED;
    return false;
}

bool ReadPackage(ZipArchive& zip, PackageVisitor* package, std::string* packagePath, std::string* error) {
    ContainerVisitor container;
    const ZipEntry* entry = zip.Find("META-INF/container.xml");
    if (!entry) return Damaged(error, "its container record (META-INF/container.xml) is missing");
    if (!WalkEntry(zip, *entry, &container, error)) return false;
    std::string path;
    if (!Narrow(container.packagePath, &path) || !ResolveReference("", path, packagePath))
        return Damaged(error, "its container record names no package document");
    entry = zip.Find(*packagePath);
    if (!entry) return Damaged(error, "its package document is missing");
    return WalkEntry(zip, *entry, package, error);
}

bool ExtractEpub(ZipBytes* bytes, DocumentText& out, bool titleOnly, CancelFlag cancel) {
    ZipArchive zip;
    if (!zip.Open(bytes, &out.error)) return false;
    if (!titleOnly && !CheckNotProtected(zip, &out.error)) return false;
    PackageVisitor package;
    std::string packagePath;
    if (!ReadPackage(zip, &package, &packagePath, &out.error)) return false;
    out.title = Wide(BookTitle(package.author, package.title));
    if (titleOnly) return true;
    const std::vector<std::string> order = ReadingOrder(package.package, packagePath);
    if (order.empty()) return Damaged(&out.error, "its reading order names no document");
    TextBuilder builder(HtmlRole);
    size_t markupBytes = 0;  // more than the text's units: the markup is not text
    for (const std::string& path : order)
        if (const ZipEntry* entry = zip.Find(path)) markupBytes += entry->size;
    builder.Reserve(markupBytes);
    for (const std::string& path : order) {
        if (cancel.Raised()) return Cancelled(&out.error);
        const ZipEntry* entry = zip.Find(path);
        if (!entry) continue;  // a chapter missing from the archive: the rest is still read
        std::string document;
        if (!zip.Read(*entry, &document, &out.error)) return false;
        const std::u16string text = DecodeMarkupBytes(document, FindDeclaredCharset(reinterpret_cast<const uint8_t*>(document.data()), document.size()));
        ReadHtml(text.data(), text.size(), &builder);
        builder.EndDocument();
        if (builder.TooLong()) return Damaged(&out.error, "its text is longer than 256 MB");
    }
    out.text = Wide(builder.TakeResult());
    return true;
}

// ---- FictionBook ----

class FictionBookVisitor : public XmlVisitor {
public:
    FictionBookVisitor(TextBuilder* builder, bool titleOnly, CancelFlag cancel)
        : builder_(builder), titleOnly_(titleOnly), cancel_(cancel) {}
    std::u16string title, author;

    bool Start(const std::u16string& name, IXmlReader* reader) override {
        if (cancel_.Raised()) return false;
        if (name == u"title-info") inTitleInfo_ = true;
        if (inTitleInfo_) NoteMetadata(name);
        if (name == u"body") {
            const std::u16string kind = Attribute(reader, u"name");
            builder_->OpenAs(name, kind == u"notes" || kind == u"comments" ? ElementRole::Skip : ElementRole::Block);
            return true;
        }
        builder_->Open(name);
        return true;
    }
    bool End(const std::u16string& name) override {
        if (name == u"title-info") inTitleInfo_ = false;
        if (name == u"author") inAuthor_ = false, authorDone_ = authorDone_ || !author.empty();
        into_ = nullptr;
        builder_->Close(name);
        return !(titleOnly_ && name == u"description");
    }
    void Text(const char16_t* text, size_t count) override {
        if (into_) into_->append(text, count);
        builder_->Text(text, count);
    }

private:
    void NoteMetadata(const std::u16string& name) {
        if (name == u"book-title" && title.empty()) into_ = &title;
        if (name == u"author" && !authorDone_) inAuthor_ = true;
        if (inAuthor_ && !authorDone_ && (name == u"first-name" || name == u"middle-name" || name == u"last-name" || name == u"nickname")) {
            if (!author.empty()) author += u' ';
            into_ = &author;
        }
    }
    TextBuilder* builder_;
    bool titleOnly_;
    CancelFlag cancel_;
    bool inTitleInfo_ = false, inAuthor_ = false, authorDone_ = false;
    std::u16string* into_ = nullptr;
};

// A .fb2.zip holds the book as its first entry named *.fb2.
bool UnpackFictionBook(std::string* bytes, std::string* error) {
    if (bytes->size() < 2 || (*bytes)[0] != 'P' || (*bytes)[1] != 'K') return true;
    const std::string archive = std::move(*bytes);
    ZipArchive zip;
    if (!zip.Open(reinterpret_cast<const uint8_t*>(archive.data()), archive.size(), error)) return false;
    for (const ZipEntry& entry : zip.Entries())
        if (EndsWith(entry.name.c_str(), ".fb2")) return zip.Read(entry, bytes, error);
    return Damaged(error, "the archive holds no FictionBook file");
}

bool ExtractFictionBook(std::string& bytes, DocumentText& out, bool titleOnly, CancelFlag cancel) {
    if (!UnpackFictionBook(&bytes, &out.error)) return false;
    TextBuilder builder(FictionBookRole);
    FictionBookVisitor visitor(&builder, titleOnly, cancel);
    if (!WalkXml(bytes, &visitor, &out.error)) return false;
    if (cancel.Raised()) return Cancelled(&out.error);
    if (builder.TooLong()) return Damaged(&out.error, "its text is longer than 256 MB");
    out.title = Wide(BookTitle(visitor.author, visitor.title));
    if (!titleOnly) out.text = Wide(builder.TakeResult());
    return true;
}

// ---- DOCX ----

class BuilderVisitor : public XmlVisitor {
public:
    BuilderVisitor(TextBuilder* builder, CancelFlag cancel) : builder_(builder), cancel_(cancel) {}
    bool Start(const std::u16string& name, IXmlReader*) override {
        builder_->Open(name);
        return !cancel_.Raised();
    }
    bool End(const std::u16string& name) override {
        builder_->Close(name);
        return true;
    }
    void Text(const char16_t* text, size_t count) override { builder_->Text(text, count); }

private:
    TextBuilder* builder_;
    CancelFlag cancel_;
};

bool ExtractDocx(ZipBytes* bytes, DocumentText& out, bool titleOnly, CancelFlag cancel) {
    ZipArchive zip;
    if (!zip.Open(bytes, &out.error)) return false;
    if (const ZipEntry* core = zip.Find("docProps/core.xml")) {
        MetadataVisitor metadata;
        std::string ignored;
        if (WalkEntry(zip, *core, &metadata, &ignored)) out.title = Wide(BookTitle(metadata.author, metadata.title));
    }
    if (titleOnly) return true;
    const ZipEntry* main = zip.Find("word/document.xml");
    if (!main) return Damaged(&out.error, "its main document (word/document.xml) is missing");
    TextBuilder builder(WordRole, true);
    BuilderVisitor visitor(&builder, cancel);
    if (!WalkEntry(zip, *main, &visitor, &out.error)) return false;
    if (cancel.Raised()) return Cancelled(&out.error);
    if (builder.TooLong()) return Damaged(&out.error, "its text is longer than 256 MB");
    out.text = Wide(builder.TakeResult());
    return true;
}

// ---- HTML ----

bool ExtractHtml(const std::string& bytes, DocumentText& out, bool titleOnly) {
    const std::u16string text = DecodeMarkupBytes(bytes, FindDeclaredCharset(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    TextBuilder builder(HtmlRole);
    builder.Reserve(text.size());
    ReadHtml(text.data(), text.size(), &builder);
    if (builder.TooLong()) return Damaged(&out.error, "its text is longer than 256 MB");
    out.title = Wide(builder.DocumentTitle());
    if (!titleOnly) out.text = Wide(builder.TakeResult());
    return true;
}

// ---- RTF, through the Rich Edit control's own reader ----

struct RtfSource {
    const std::string* bytes;
    size_t at;
};

DWORD CALLBACK GiveRtf(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    RtfSource* source = reinterpret_cast<RtfSource*>(cookie);
    const size_t count = std::min<size_t>(static_cast<size_t>(wanted), source->bytes->size() - source->at);
    std::memcpy(buffer, source->bytes->data() + source->at, count);
    source->at += count;
    *given = static_cast<LONG>(count);
    return 0;
}

bool ExtractRtf(const std::string& bytes, DocumentText& out) {
    if (bytes.compare(0, 5, "{\\rtf") != 0) return Damaged(&out.error, "it is not RTF");
    if (!RtfNestsWithin(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), RTF_MOST_DEPTH))
        return Damaged(&out.error, "its groups nest too deeply");
    ScopedLibrary richEdit(LoadLibraryA("riched20.dll"));
    // A message-only control: never shown, never the foreground, and ended on this thread.
    ScopedWindow control(richEdit ? CreateWindowExW(0, L"RichEdit20W", L"", ES_MULTILINE, 0, 0, 0, 0, HWND_MESSAGE,
                                                    nullptr, nullptr, nullptr)
                                  : nullptr);
    if (!control) {
        out.error = "The Rich Edit control that reads RTF cannot be created";
        return false;
    }
    SendMessageW(control.Get(), EM_SETUNDOLIMIT, 0, 0);
    SendMessageW(control.Get(), EM_EXLIMITTEXT, 0, static_cast<LPARAM>(MARKUP_MOST_UNITS));
    RtfSource source = {&bytes, 0};
    EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&source), 0, GiveRtf};
    SendMessageW(control.Get(), EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    if (stream.dwError != 0) return Damaged(&out.error, "its RTF cannot be read");
    GETTEXTLENGTHEX length = {GTL_USECRLF | GTL_NUMCHARS, 1200};
    const LRESULT units = SendMessageW(control.Get(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    std::wstring text(static_cast<size_t>(units > 0 ? units : 0) + 1, L'\0');
    GETTEXTEX get = {static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_USECRLF, 1200, nullptr, nullptr};
    const LRESULT got = SendMessageW(control.Get(), EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                     reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    out.text = std::move(text);
    return true;
}

bool Extract(const char* path, DocumentText& out, bool titleOnly, CancelFlag cancel = CancelFlag()) {
    out = DocumentText();
    const Format format = FormatOf(path);
    if (format == Format::None) {
        out.error = "The file is not a document type that is read";
        return false;
    }
    if (format == Format::Epub || format == Format::Docx) {
        FileZipBytes archive(path);
        if (!archive.Opened()) {
            out.error = "The file cannot be opened";
            return false;
        }
        return format == Format::Epub ? ExtractEpub(&archive, out, titleOnly, cancel)
                                      : ExtractDocx(&archive, out, titleOnly, cancel);
    }
    std::string bytes;
    const bool readsStart = titleOnly && (format == Format::Html || format == Format::FictionBook);
    if (!ReadFileBytes(path, &bytes, &out.error, readsStart ? TITLE_READ_BYTES : MAXDWORD)) return false;
    switch (format) {
    case Format::FictionBook: return ExtractFictionBook(bytes, out, titleOnly, cancel);
    case Format::Html: return ExtractHtml(bytes, out, titleOnly);
    case Format::Rtf: return titleOnly || ExtractRtf(bytes, out);
    default: return false;
    }
}

}  // namespace

bool IsDocumentFileName(const char* name) { return FormatOf(name) != Format::None; }

uint64_t EstimatedDocumentUnits(const char* name, uint64_t bytes) {
    switch (FormatOf(name)) {
    case Format::Epub:
    case Format::Docx:
        return bytes * 3 / 2;  // deflated markup, with pictures and styles beside the text
    case Format::FictionBook:
        return EndsWith(name, ".zip") ? bytes * 3 / 2 : bytes * 4 / 5;
    case Format::Html:
    case Format::Rtf:
        return bytes / 2;
    default:
        return bytes;
    }
}

bool ExtractDocument(const char* path, DocumentText& out, const std::atomic<bool>* cancelled) {
    try {
        return Extract(path, out, false, CancelFlag{cancelled});
    } catch (const std::bad_alloc&) {
        out = DocumentText();
        out.error = "The document's text does not fit in memory";
        return false;
    }
}

std::wstring ExtractDocumentTitle(const char* path) {
    DocumentText out;
    try {
        Extract(path, out, true);
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
    return out.title;
}
