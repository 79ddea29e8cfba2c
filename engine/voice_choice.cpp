#include "engine/voice_choice.h"

#include <cwchar>
#include <cwctype>

namespace engine {
namespace {

const wchar_t* const KnownAttributes[] = {L"Language", L"Gender", L"Age", L"Name", L"Vendor"};

std::wstring Trimmed(const std::wstring& text) {
    size_t first = 0, last = text.size();
    while (first < last && std::iswspace(text[first])) ++first;
    while (last > first && std::iswspace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

bool SameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// A hexadecimal language id; false for anything else.
bool ParseLanguageId(const std::wstring& text, unsigned long& id) {
    const std::wstring digits = Trimmed(text);
    if (digits.empty()) return false;
    wchar_t* end = nullptr;
    id = std::wcstoul(digits.c_str(), &end, 16);
    return end && *end == 0;
}

bool ListsLanguage(const std::wstring& languages, const std::wstring& wanted) {
    unsigned long wantedId = 0;
    if (!ParseLanguageId(wanted, wantedId)) return false;
    for (size_t start = 0; start <= languages.size();) {
        size_t end = languages.find(L';', start);
        if (end == std::wstring::npos) end = languages.size();
        unsigned long id = 0;
        if (ParseLanguageId(languages.substr(start, end - start), id) && id == wantedId) return true;
        start = end + 1;
    }
    return false;
}

const std::wstring* AttributeOf(const VoiceInfo& voice, const std::wstring& name) {
    for (const auto& attribute : voice.attributes) {
        if (SameText(attribute.first, name)) return &attribute.second;
    }
    return nullptr;
}

bool IsKnownAttribute(const std::wstring& name) {
    for (const wchar_t* known : KnownAttributes) {
        if (SameText(name, known)) return true;
    }
    return false;
}

}  // namespace

bool MeetsCondition(const VoiceInfo& voice, const std::wstring& condition) {
    const size_t equals = condition.find(L'=');
    if (equals == std::wstring::npos) return true;
    const bool negated = equals > 0 && condition[equals - 1] == L'!';
    const std::wstring name = Trimmed(condition.substr(0, negated ? equals - 1 : equals));
    const std::wstring value = Trimmed(condition.substr(equals + 1));
    if (!IsKnownAttribute(name)) return true;
    const std::wstring* held = AttributeOf(voice, name);
    const bool equal = held && (SameText(name, L"Language") ? ListsLanguage(*held, value) : SameText(*held, value));
    return equal != negated;
}

ConditionCount CountConditions(const VoiceInfo& voice, const std::wstring& conditions) {
    ConditionCount count;
    for (size_t start = 0; start < conditions.size();) {
        size_t end = conditions.find(L';', start);
        if (end == std::wstring::npos) end = conditions.size();
        if (MeetsCondition(voice, conditions.substr(start, end - start))) ++count.met;
        else count.all = false;
        start = end + 1;
    }
    return count;
}

std::wstring ChooseVoice(const std::vector<VoiceInfo>& voices, const std::wstring& required,
                         const std::wstring& optional, const std::wstring& current) {
    const VoiceInfo* best = nullptr;
    size_t bestOptional = 0;
    for (const VoiceInfo& voice : voices) {
        if (!CountConditions(voice, required).all) continue;
        const size_t met = CountConditions(voice, optional).met;
        const bool better = !best || met > bestOptional || (met == bestOptional && voice.id == current && best->id != current);
        if (better) {
            best = &voice;
            bestOptional = met;
        }
    }
    return best ? best->id : current;
}

}  // namespace engine
