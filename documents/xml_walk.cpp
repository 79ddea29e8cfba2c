#include "documents/xml_walk.h"

#include <windows.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstdio>

#include "base/scoped.h"
#include "base/text_encoding.h"
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

bool Damaged(std::string* error, HRESULT result) {
    char text[96];
    std::snprintf(text, sizeof text, "its XML is not well-formed, nests too deeply or declares a DTD (%08lX)",
                  static_cast<unsigned long>(result));
    *error = std::string("The file is damaged: ") + text;
    return false;
}

// XmlLite is given UTF-16 whatever the document's encoding: Wine's reads no code page but UTF-8 and
// UTF-16, and ends the whole process on some UTF-8 documents cut short (an assertion in its decoder).
// The declaration is left out, as the encoding it names no longer holds. An encoding neither marked nor
// declared (or one not known) is told by the rule for text files: UTF-8 when valid, else ANSI. False
// for a document in UTF-16 already, given as it is.
bool AsUtf16(const std::string& bytes, std::string* converted) {
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const ByteOrderMark mark = FindByteOrderMark(data, bytes.size());
    if (mark.found && mark.encoding != TextEncoding::Utf8) return false;
    size_t declarationEnd = 0;
    unsigned codePage = CodePageOfCharset(FindXmlEncoding(data + mark.length, bytes.size() - mark.length, &declarationEnd));
    if (codePage == 1200 || codePage == 1201) return false;
    if (mark.found) codePage = 65001;
    if (codePage == 0) {
        Utf8Scan scan;
        scan.Add(data + mark.length, bytes.size() - mark.length);
        codePage = scan.Invalid() ? CP_ACP : 65001;
    }
    const size_t skipped = mark.length + declarationEnd;
    const char* from = bytes.data() + skipped;
    const int count = static_cast<int>(bytes.size() - skipped);
    const int units = count > 0 ? MultiByteToWideChar(codePage, 0, from, count, nullptr, 0) : 0;
    if (count > 0 && units <= 0) return false;
    converted->assign(2 + units * sizeof(wchar_t), '\0');
    (*converted)[0] = '\xFF', (*converted)[1] = '\xFE';
    if (units > 0) MultiByteToWideChar(codePage, 0, from, count, reinterpret_cast<wchar_t*>(&(*converted)[2]), units);
    return true;
}

}  // namespace

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
    std::string converted;
    const std::string& input = AsUtf16(bytes, &converted) ? converted : bytes;
    ScopedComPtr<IStream> stream(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(input.data()), static_cast<UINT>(input.size())));
    if (!stream) {
        *error = "Out of memory";
        return false;
    }
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    reader->SetProperty(XmlReaderProperty_MaxElementDepth, MARKUP_MOST_DEPTH);
    HRESULT result = reader->SetInput(stream.Get());
    XmlNodeType type;
    // Every node takes at least one character of the input. Wine's reader, given a document cut off
    // in its text, gives that text node again and again: more nodes than characters is that end.
    size_t nodesLeft = input.size() + 1;
    while (SUCCEEDED(result) && (result = reader->Read(&type)) == S_OK) {
        if (nodesLeft-- == 0) return Damaged(error, MX_E_INPUTEND);
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
    return SUCCEEDED(result) ? true : Damaged(error, result);
}
