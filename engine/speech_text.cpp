#include "engine/speech_text.h"

#include "engine/engine.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace engine {
namespace {

bool IsBlank(wchar_t c) { return c <= L' '; }

bool IsSentenceEnd(wchar_t c) { return c && std::wcschr(L".!?;\u2026\u3002\uFF01\uFF1F", c) != nullptr; }
bool IsCloser(wchar_t c) { return c && std::wcschr(L"\"')]}\u00BB\u2019\u201D", c) != nullptr; }

// When a sentence or paragraph ends with the character at `at`, the index just after it (and
// after its closing quotes or brackets); otherwise 0.
size_t SentenceEndAfter(const std::wstring& text, size_t at) {
    if (text[at] == L'\n') {
        size_t next = at + 1;
        while (next < text.size() && (text[next] == L' ' || text[next] == L'\t' || text[next] == L'\r')) ++next;
        return next < text.size() && text[next] == L'\n' ? at + 1 : 0;
    }
    if (!IsSentenceEnd(text[at])) return 0;
    size_t end = at + 1;
    while (end < text.size() && IsCloser(text[end])) ++end;
    return end == text.size() || IsBlank(text[end]) ? end : 0;
}

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

// Appends `in` with its entities decoded to `out`; with `runs`, also where the appended units stand,
// `in` starting at `inPosition` of the source.
void AppendDecoded(const std::wstring& in, ULONG inPosition, std::wstring& out, std::vector<SourceRun>* runs) {
    for (size_t i = 0; i < in.size();) {
        const ULONG spoken = static_cast<ULONG>(out.size());
        const ULONG source = inPosition + static_cast<ULONG>(i);
        size_t used = in[i] == L'&' ? DecodeEntity(in, i, out) : 0;
        if (used == 0) {
            out += in[i];
            used = 1;
        }
        i += used;
        if (!runs) continue;
        const bool continues = !runs->empty() && used == 1 && runs->back().width == 1 &&
                               runs->back().source + (spoken - runs->back().spoken) == source;
        if (!continues) runs->push_back({spoken, source, static_cast<ULONG>(used)});
    }
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

// The tag's name in lower case, without the slash of a closing tag.
std::wstring TagName(const std::wstring& tag) {
    size_t start = !tag.empty() && tag[0] == L'/' ? 1 : 0;
    size_t end = start;
    while (end < tag.size() && !IsBlank(tag[end]) && tag[end] != L'/') ++end;
    return Lowered(tag.substr(start, end - start));
}

bool IntegerAttribute(const std::wstring& tag, const std::wstring& name, long& value) {
    std::wstring text;
    if (!AttributeValue(tag, name, text)) return false;
    wchar_t* end = nullptr;
    value = std::wcstol(text.c_str(), &end, 10);
    return end != text.c_str();
}

bool operator==(const Prosody& a, const Prosody& b) {
    return a.rate == b.rate && a.absoluteRate == b.absoluteRate && a.volume == b.volume &&
           a.emphasis == b.emphasis && a.spell == b.spell && a.voiceId == b.voiceId;
}

// What a <rate>, <volume>, <emph> or <spell> tag does to the prosody; false for other tags.
bool ApplyProsodyTag(const std::wstring& name, const std::wstring& tag, Prosody& prosody) {
    long value = 0;
    if (name == L"rate") {
        if (IntegerAttribute(tag, L"absspeed", value)) {
            prosody.rate = value;
            prosody.absoluteRate = true;
        } else if (IntegerAttribute(tag, L"speed", value)) {
            prosody.rate += value;
        }
        return true;
    }
    if (name == L"volume") {
        if (IntegerAttribute(tag, L"level", value)) {
            value = value < 0 ? 0 : value > 100 ? 100 : value;
            prosody.volume = static_cast<unsigned>(prosody.volume * value / 100);
        }
        return true;
    }
    if (name == L"emph") return prosody.emphasis = true;
    if (name == L"spell") return prosody.spell = true;
    return false;
}

// Builds a SpeechText from markup, one tag at a time.
class MarkupReader {
public:
    explicit MarkupReader(const VoiceChooser& chooseVoice) : chooseVoice_(chooseVoice) {}

    SpeechText Read(const std::wstring& markup) {
        for (size_t i = 0; i < markup.size();) {
            if (markup[i] != L'<') {
                if (pendingText_.empty()) pendingStart_ = static_cast<ULONG>(i);
                pendingText_ += markup[i++];
                continue;
            }
            FlushText();
            size_t end = SkipSpecial(markup, i);
            if (end == 0) {
                size_t close = markup.find(L'>', i);
                if (close == std::wstring::npos) break;  // an unterminated tag swallows the rest
                Tag(markup.substr(i + 1, close - i - 1));
                end = close + 1;
            }
            i = end;
        }
        FlushText();
        result_.markup = true;
        return std::move(result_);
    }

private:
    // Past a comment or processing instruction starting at `at`; 0 when none starts there.
    static size_t SkipSpecial(const std::wstring& markup, size_t at) {
        static const struct { const wchar_t* open; const wchar_t* close; } kinds[] = {{L"<!--", L"-->"},
                                                                                     {L"<?", L"?>"}};
        for (const auto& kind : kinds) {
            if (markup.compare(at, wcslen(kind.open), kind.open) != 0) continue;
            size_t close = markup.find(kind.close, at + wcslen(kind.open));
            return close == std::wstring::npos ? markup.size() : close + wcslen(kind.close);
        }
        return 0;
    }

    void FlushText() {
        AppendDecoded(pendingText_, pendingStart_, result_.text, &result_.source);
        pendingText_.clear();
    }

    ULONG Position() const { return static_cast<ULONG>(result_.text.size()); }

    void Tag(const std::wstring& tag) {
        const std::wstring name = TagName(tag);
        const bool closing = !tag.empty() && tag[0] == L'/';
        const bool empty = !tag.empty() && tag.back() == L'/';
        std::wstring text;
        long value = 0;
        if (closing) {
            Close(name);
        } else if (name == L"bookmark" && AttributeValue(tag, L"mark", text)) {
            result_.bookmarks.push_back({Position(), text});
        } else if (name == L"silence" && IntegerAttribute(tag, L"msec", value) && value > 0) {
            result_.silences.push_back({Position(), static_cast<ULONG>(value)});
        } else {
            Prosody changed = current_;
            const bool changes = ApplyProsodyTag(name, tag, changed) || ApplyVoiceTag(name, tag, changed);
            // Any element's end brings back what was in force at its start: an empty <rate/> or
            // <voice/> holds until its enclosing element ends.
            if (!empty) open_.push_back({name, current_});
            if (changes) SetProsody(changed);
        }
    }

    // What a <voice> or <lang> tag does to the voice in force; false for other tags.
    bool ApplyVoiceTag(const std::wstring& name, const std::wstring& tag, Prosody& prosody) const {
        std::wstring required, optional;
        if (name == L"voice") {
            AttributeValue(tag, L"required", required);
            AttributeValue(tag, L"optional", optional);
        } else if (name == L"lang") {
            if (AttributeValue(tag, L"langid", required)) required = L"Language=" + required;
        } else {
            return false;
        }
        if (chooseVoice_) prosody.voiceId = chooseVoice_(required, optional, prosody.voiceId);
        return true;
    }

    void Close(const std::wstring& name) {
        for (size_t i = open_.size(); i-- > 0;) {
            if (open_[i].name != name) continue;
            Prosody restored = open_[i].before;
            open_.resize(i);
            SetProsody(restored);
            return;
        }
    }

    void SetProsody(const Prosody& prosody) {
        if (prosody == current_) return;
        current_ = prosody;
        if (!result_.prosody.empty() && result_.prosody.back().position == Position()) {
            result_.prosody.back().prosody = prosody;
        } else {
            result_.prosody.push_back({Position(), prosody});
        }
    }

    struct OpenTag {
        std::wstring name;
        Prosody before;
    };

    const VoiceChooser& chooseVoice_;
    SpeechText result_;
    std::wstring pendingText_;  // raw text since the last tag, from pendingStart_ of the markup on
    ULONG pendingStart_ = 0;
    Prosody current_;
    std::vector<OpenTag> open_;
};

}  // namespace

std::wstring DecodeTextBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        }
        return text;
    }
    return DecodeMultiByte(CP_ACP, bytes.data(), bytes.size());
}

std::wstring DecodeEntities(const std::wstring& in) {
    std::wstring out;
    AppendDecoded(in, 0, out, nullptr);
    return out;
}

SpeechText ParseMarkup(const std::wstring& markup, const VoiceChooser& chooseVoice) {
    return MarkupReader(chooseVoice).Read(markup);
}

SpeechText ParseSpeech(std::wstring input, bool isXml, const VoiceChooser& chooseVoice) {
    if (isXml) return ParseMarkup(input, chooseVoice);
    SpeechText plain;
    plain.text = std::move(input);
    return plain;
}

std::vector<TextSpan> FindWords(const std::wstring& text) {
    std::vector<TextSpan> words;
    for (TextSpan word = NextWord(text, 0); word.length; word = NextWord(text, word.position + word.length)) {
        words.push_back(word);
    }
    return words;
}

TextSpan NextWord(const std::wstring& text, size_t from) {
    while (from < text.size() && IsBlank(text[from])) ++from;
    size_t end = from;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    return {static_cast<ULONG>(from), static_cast<ULONG>(end - from)};
}

TextSpan SentenceAt(const std::wstring& text, size_t start, size_t maxUnits) {
    if (maxUnits == 0) maxUnits = 1;
    size_t end = text.size();
    size_t afterBlank = 0;  // just after the sentence's last blank that follows a non-blank, 0 if none
    for (size_t i = start; i < text.size(); ++i) {
        if (size_t after = SentenceEndAfter(text, i)) {
            end = after;
            break;
        }
        if (i + 1 - start > maxUnits) {
            end = afterBlank > start ? afterBlank : i;
            break;
        }
        if (IsBlank(text[i]) && i > start && !IsBlank(text[i - 1])) afterBlank = i + 1;
    }
    while (end < text.size() && IsBlank(text[end])) ++end;
    return {static_cast<ULONG>(start), static_cast<ULONG>(end - start)};
}

std::vector<TextSpan> SplitIntoSentences(const std::wstring& text, size_t maxUnits) {
    std::vector<TextSpan> sentences;
    for (size_t start = 0; start < text.size(); start += sentences.back().length) {
        sentences.push_back(SentenceAt(text, start, maxUnits));
    }
    return sentences;
}

TextSpan NextSentence(const std::wstring& text, size_t from) {
    while (from < text.size()) {
        const TextSpan sentence = SentenceAt(text, from);
        const size_t end = sentence.position + sentence.length;
        while (from < end && IsBlank(text[from])) ++from;
        if (from < end) return {static_cast<ULONG>(from), static_cast<ULONG>(end - from)};
    }
    return {static_cast<ULONG>(text.size()), 0};
}

std::vector<TextSpan> FindSentences(const std::wstring& text) {
    std::vector<TextSpan> sentences;
    for (TextSpan sentence = NextSentence(text, 0); sentence.length;
         sentence = NextSentence(text, sentence.position + sentence.length)) {
        sentences.push_back(sentence);
    }
    return sentences;
}

TextSpan SourceSpan(const SpeechText& speech, TextSpan spoken) {
    if (speech.source.empty()) return spoken;
    // The source of one spoken unit: its run's start, one width further per unit.
    auto unit = [&](ULONG position) {
        auto after = std::upper_bound(speech.source.begin(), speech.source.end(), position,
                                      [](ULONG p, const SourceRun& run) { return p < run.spoken; });
        const SourceRun& run = after == speech.source.begin() ? *after : *(after - 1);
        return TextSpan{run.source + (position - run.spoken) * run.width, run.width};
    };
    const TextSpan first = unit(spoken.position);
    if (spoken.length == 0) return {first.position, 0};
    const TextSpan last = unit(spoken.position + spoken.length - 1);
    return {first.position, last.position + last.length - first.position};
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

size_t SentenceSkipTarget(const std::wstring& text, size_t position, ULONG count, ULONG& skipped) {
    skipped = 0;
    const std::vector<TextSpan> sentences = SplitIntoSentences(text);
    size_t current = 0;
    while (current + 1 < sentences.size() && sentences[current + 1].position <= position) ++current;
    while (skipped < count && current + 1 < sentences.size()) {
        ++current;
        ++skipped;
    }
    if (skipped < count || sentences.empty()) {
        if (!sentences.empty() && skipped < count) ++skipped;  // the last sentence is passed too
        return text.size();
    }
    return sentences[current].position;
}

}  // namespace engine
