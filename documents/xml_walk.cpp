#include "documents/xml_walk.h"

#include <windows.h>
#include <xmllite.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/scoped.h"
#include "base/text_encoding.h"
#include "documents/damaged_file.h"
#include "documents/markup_text.h"

namespace {

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// Loaded once and kept for the life of the process: readers may run on any thread.
CreateXmlReaderFunction XmlReaderFactory() {
    static const CreateXmlReaderFunction factory = [] {
        HMODULE library = LoadLibraryA("xmllite.dll");
        return library ? reinterpret_cast<CreateXmlReaderFunction>(GetProcAddress(library, "CreateXmlReader"))
                       : nullptr;
    }();
    return factory;
}

const IID READER_IID = {0x7279fc81, 0x709d, 0x4095, {0xb6, 0x3d, 0x69, 0xfe, 0x4b, 0x0d, 0x90, 0x30}};

std::u16string LowerName(const wchar_t* name, UINT length) {
    std::u16string lower(reinterpret_cast<const char16_t*>(name), length);
    for (char16_t& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
    return lower;
}

std::u16string CurrentName(IXmlReader* reader) {
    const wchar_t* name = nullptr;
    UINT length = 0;
    if (FAILED(reader->GetLocalName(&name, &length)) || !name) return std::u16string();
    return LowerName(name, length);
}

bool DamagedXml(std::string* error, HRESULT result) {
    char text[96];
    std::snprintf(text, sizeof text, "its XML is not well-formed, nests too deeply or declares a DTD (%08lX)",
                  static_cast<unsigned long>(result));
    return Damaged(error, text);
}

// Wine's ntdll has exports of its own; Windows' has none of them.
bool UnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Wine's XmlLite, which the plug-in's users run under, is dependable only with ASCII: its UTF-16
// input breaks past a few kilobytes, and UTF-8 past ASCII is garbled where its reads end inside a
// character; and input that ends inside or right after the XML declaration ends the whole process (an
// assertion). So every document is decoded here and given to it as ASCII (XmlAsAscii), without its
// declaration, with one space after it, as whitespace may end any document.
// The encoding: by the mark, else the declaration, else the rule for text files (UTF-8 when valid).
std::string AsAsciiXml(const std::string& bytes) {
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const unsigned markLength = FindByteOrderMark(data, bytes.size()).length;
    size_t declarationEnd = 0;
    std::u16string text =
        DecodeMarkupBytes(bytes, FindXmlEncoding(data + markLength, bytes.size() - markLength, &declarationEnd));
    // The declaration names an encoding that no longer holds.
    if (text.compare(0, 5, u"<?xml") == 0) {
        const size_t end = text.find(u"?>");
        text.erase(0, end == std::u16string::npos ? text.size() : end + 2);
    }
    return XmlAsAscii(text.data(), text.size(), UnderWine()) + ' ';
}

// The bytes given to XmlLite as they are asked for. It lives on the walker's stack, declared before
// the reader that holds it, so its count of references is not kept.
class BytesStream : public ISequentialStream {
public:
    explicit BytesStream(const std::string& bytes) : bytes_(bytes) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        *out = id == IID_IUnknown || id == IID_ISequentialStream ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void* out, ULONG wanted, ULONG* given) override {
        const size_t count = std::min<size_t>(wanted, bytes_.size() - at_);
        if (count > 0) std::memcpy(out, bytes_.data() + at_, count);
        at_ += count;
        if (given) *given = static_cast<ULONG>(count);
        return count < wanted ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }

private:
    const std::string& bytes_;
    size_t at_ = 0;
};

}  // namespace

std::u16string DecodeMarkupBytes(const std::string& bytes, const std::string& declaredCharset) {
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const ByteOrderMark mark = FindByteOrderMark(data, bytes.size());
    unsigned codePage = CodePageOfCharset(declaredCharset);
    if (mark.found) codePage = mark.encoding == TextEncoding::Utf8 ? 65001 : mark.encoding == TextEncoding::Utf16LE ? 1200 : 1201;
    if (codePage == 0) {
        Utf8Scan scan;
        scan.Add(data, bytes.size());
        codePage = scan.Verdict() == TextEncoding::Utf8 ? 65001 : CP_ACP;
    }
    data += mark.length;
    const size_t size = bytes.size() - mark.length;
    std::u16string text;
    if (codePage == 65001) {
        text.resize(size);
        size_t consumed = 0;
        text.resize(Utf8ToUtf16(data, size, true, &text[0], size, &consumed));
    } else if (codePage == 1200 || codePage == 1201) {
        text.resize(size / 2);
        if (codePage == 1201)
            SwapUtf16Bytes(data, size / 2, &text[0]);
        else if (!text.empty())
            std::memcpy(&text[0], data, text.size() * 2);
    } else if (size > 0) {
        const char* from = reinterpret_cast<const char*>(data);
        int units = MultiByteToWideChar(codePage, 0, from, static_cast<int>(size), nullptr, 0);
        if (units <= 0) codePage = CP_ACP, units = MultiByteToWideChar(CP_ACP, 0, from, static_cast<int>(size), nullptr, 0);
        text.resize(units > 0 ? units : 0);
        if (units > 0)
            MultiByteToWideChar(codePage, 0, from, static_cast<int>(size), reinterpret_cast<wchar_t*>(&text[0]), units);
    }
    return text;
}

std::u16string Attribute(IXmlReader* reader, const char16_t* wanted) {
    std::u16string value;
    const std::u16string lowerWanted = LowerName(reinterpret_cast<const wchar_t*>(wanted),
                                                 static_cast<UINT>(std::char_traits<char16_t>::length(wanted)));
    for (HRESULT at = reader->MoveToFirstAttribute(); at == S_OK; at = reader->MoveToNextAttribute()) {
        if (CurrentName(reader) != lowerWanted) continue;
        const wchar_t* text = nullptr;
        UINT length = 0;
        if (SUCCEEDED(reader->GetValue(&text, &length)) && text)
            value.assign(reinterpret_cast<const char16_t*>(text), length);
        break;
    }
    reader->MoveToElement();
    return value;
}

bool WalkXml(const std::string& bytes, XmlVisitor* visitor, std::string* error) {
    const std::string input = AsAsciiXml(bytes);
    BytesStream stream(input);
    const CreateXmlReaderFunction factory = XmlReaderFactory();
    if (!factory) {
        *error = "The XML reader of Windows (xmllite.dll) cannot be loaded";
        return false;
    }
    ScopedComPtr<IXmlReader> reader;
    if (FAILED(factory(READER_IID, reader.ReceiveVoid(), nullptr))) {
        *error = "The XML reader of Windows (xmllite.dll) cannot be started";
        return false;
    }
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    reader->SetProperty(XmlReaderProperty_MaxElementDepth, MARKUP_MOST_DEPTH);
    HRESULT result = reader->SetInput(static_cast<ISequentialStream*>(&stream));
    XmlNodeType type;
    // Every node takes at least one character of the input. Wine's reader, given a document cut off
    // in its text, gives that text node again and again: more nodes than characters is that end.
    size_t nodesLeft = input.size() + 1;
    while (SUCCEEDED(result) && (result = reader->Read(&type)) == S_OK) {
        if (nodesLeft-- == 0) return DamagedXml(error, MX_E_INPUTEND);
        if (type == XmlNodeType_Element) {
            const bool empty = reader->IsEmptyElement();
            const std::u16string name = CurrentName(reader.Get());
            if (!visitor->Start(name, reader.Get())) return true;
            if (empty && !visitor->End(name)) return true;
        } else if (type == XmlNodeType_EndElement) {
            if (!visitor->End(CurrentName(reader.Get()))) return true;
        } else if (type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace) {
            const wchar_t* text = nullptr;
            UINT length = 0;
            if (SUCCEEDED(reader->GetValue(&text, &length)) && text)
                visitor->Text(reinterpret_cast<const char16_t*>(text), length);
        }
    }
    return SUCCEEDED(result) ? true : DamagedXml(error, result);
}
