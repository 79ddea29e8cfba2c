#include "engine/speech_text.h"

#include "engine/engine.h"

#include <cwctype>

namespace engine {
namespace {

bool IsBlank(wchar_t c) { return c <= L' '; }

std::wstring DecodeMultiByte(UINT codePage, const unsigned char* bytes, size_t count) {
    if (count == 0) return std::wstring();
    int units = MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(count),
                                    nullptr, 0);
    std::wstring text(units > 0 ? units : 0, L'\0');
    if (units > 0) {
        MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(count), &text[0],
                            units);
    }
    return text;
}

// &lt; &gt; &amp; &quot; &apos; and numeric references; anything else stays as written.
// Returns the number of input units consumed (0 when `at` starts no known entity).
size_t DecodeEntity(const std::wstring& in, size_t at, std::wstring& out) {
    size_t semicolon = in.find(L';', at);
    if (semicolon == std::wstring::npos || semicolon - at > 10) return 0;
    std::wstring name = in.substr(at + 1, semicolon - at - 1);
    static const struct { const wchar_t* name; wchar_t value; } named[] = {
        {L"lt", L'<'}, {L"gt", L'>'}, {L"amp", L'&'}, {L"quot", L'"'}, {L"apos", L'\''}};
    for (const auto& entity : named) {
        if (name == entity.name) {
            out += entity.value;
            return semicolon - at + 1;
        }
    }
    if (name.size() >= 2 && name[0] == L'#') {
        bool hex = name[1] == L'x' || name[1] == L'X';
        std::wstring digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        unsigned long value = 0;
        for (wchar_t d : digits) {
            if (!(hex ? std::iswxdigit(d) : std::iswdigit(d))) return 0;
            value = value * (hex ? 16 : 10) + (std::iswdigit(d) ? d - L'0' : (std::towlower(d) - L'a' + 10));
            if (value > 0xFFFF) return 0;
        }
        out += static_cast<wchar_t>(value);
        return semicolon - at + 1;
    }
    return 0;
}

std::wstring DecodeEntities(const std::wstring& in) {
    std::wstring out;
    for (size_t i = 0; i < in.size();) {
        size_t used = in[i] == L'&' ? DecodeEntity(in, i, out) : 0;
        if (used == 0) out += in[i++];
        else i += used;
    }
    return out;
}

std::wstring Lowered(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

// The value of attribute `name` in a tag's inside, quoted with ' or ".
bool AttributeValue(const std::wstring& tag, const std::wstring& name, std::wstring& value) {
    std::wstring lowered = Lowered(tag);
    for (size_t at = lowered.find(name); at != std::wstring::npos; at = lowered.find(name, at + 1)) {
        if (at > 0 && !IsBlank(lowered[at - 1])) continue;
        size_t i = at + name.size();
        while (i < tag.size() && IsBlank(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != L'=') continue;
        ++i;
        while (i < tag.size() && IsBlank(tag[i])) ++i;
        if (i >= tag.size() || (tag[i] != L'"' && tag[i] != L'\'')) continue;
        size_t close = tag.find(tag[i], i + 1);
        if (close == std::wstring::npos) return false;
        value = DecodeEntities(tag.substr(i + 1, close - i - 1));
        return true;
    }
    return false;
}

bool IsBookmarkTag(const std::wstring& tag) {
    std::wstring lowered = Lowered(tag);
    const std::wstring keyword = L"bookmark";
    return lowered.compare(0, keyword.size(), keyword) == 0 &&
           (lowered.size() == keyword.size() || IsBlank(lowered[keyword.size()]) || lowered[keyword.size()] == L'/');
}

}  // namespace

std::wstring DecodeTextBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return DecodeMultiByte(CP_UTF8, bytes.data() + 3, bytes.size() - 3);
    }
    return DecodeMultiByte(CP_ACP, bytes.data(), bytes.size());
}

SpeechText ParseMarkup(const std::wstring& markup) {
    SpeechText result;
    std::wstring pendingText;
    auto flushText = [&] {
        result.text += DecodeEntities(pendingText);
        pendingText.clear();
    };
    for (size_t i = 0; i < markup.size();) {
        if (markup[i] != L'<') {
            pendingText += markup[i++];
            continue;
        }
        flushText();
        size_t close = markup.find(L'>', i);
        if (close == std::wstring::npos) break;  // an unterminated tag swallows the rest
        std::wstring tag = markup.substr(i + 1, close - i - 1);
        std::wstring mark;
        if (IsBookmarkTag(tag) && AttributeValue(tag, L"mark", mark)) {
            result.bookmarks.push_back({static_cast<ULONG>(result.text.size()), mark});
        }
        i = close + 1;
    }
    flushText();
    return result;
}

SpeechText ParseSpeech(const std::wstring& input, bool isXml) {
    if (isXml) return ParseMarkup(input);
    return SpeechText{input, {}};
}

std::vector<WordSpan> FindWords(const std::wstring& text) {
    std::vector<WordSpan> words;
    for (size_t i = 0; i < text.size();) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        words.push_back({static_cast<ULONG>(start), static_cast<ULONG>(i - start)});
    }
    return words;
}

bool LooksLikeMarkup(const std::wstring& input) {
    for (wchar_t c : input) {
        if (!IsBlank(c)) return c == L'<';
    }
    return false;
}

std::wstring SpokenText(const std::vector<unsigned char>& fileBytes, bool isXml) {
    return ParseSpeech(DecodeTextBytes(fileBytes), isXml).text;
}

}  // namespace engine
