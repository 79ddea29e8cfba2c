#include "engine/voice_choice.h"

#include <algorithm>
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

// One condition of an attribute string as a token category reads it.
struct AttributeCondition {
    std::wstring name;
    std::vector<std::wstring> values;  // any of them; none: the attribute need only exist
    bool negated = false;
};

bool IsHexNumber(const std::wstring& text) {
    unsigned long ignored = 0;
    return ParseLanguageId(text, ignored);
}

std::vector<AttributeCondition> ParseAttributeConditions(const std::wstring& text) {
    std::vector<AttributeCondition> conditions;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring piece = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (piece.empty()) continue;
        const size_t equals = piece.find(L'=');
        if (equals == std::wstring::npos) {
            AttributeCondition* last = conditions.empty() ? nullptr : &conditions.back();
            if (last && SameText(last->name, L"Language") && !last->values.empty() && IsHexNumber(piece)) {
                last->values.push_back(piece);
            } else {
                conditions.push_back({piece, {}, false});
            }
            continue;
        }
        AttributeCondition condition;
        condition.negated = equals > 0 && piece[equals - 1] == L'!';
        condition.name = Trimmed(piece.substr(0, condition.negated ? equals - 1 : equals));
        condition.values.push_back(Trimmed(piece.substr(equals + 1)));
        conditions.push_back(condition);
    }
    return conditions;
}

bool MeetsAttributeCondition(const VoiceInfo& voice, const AttributeCondition& condition) {
    const std::wstring* held = AttributeOf(voice, condition.name);
    if (condition.values.empty()) return held != nullptr;
    bool equal = false;
    for (const std::wstring& value : condition.values) {
        if (held && (SameText(condition.name, L"Language") ? ListsLanguage(*held, value) : SameText(*held, value))) {
            equal = true;
        }
    }
    return equal != condition.negated;
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

std::vector<VoiceInfo> SelectVoices(const std::vector<VoiceInfo>& voices, const std::wstring& required,
                                    const std::wstring& optional) {
    const std::vector<AttributeCondition> requiredConditions = ParseAttributeConditions(required);
    const std::vector<AttributeCondition> optionalConditions = ParseAttributeConditions(optional);
    struct Candidate {
        std::vector<bool> metOptional;
        const VoiceInfo* voice;
    };
    std::vector<Candidate> candidates;
    for (const VoiceInfo& voice : voices) {
        bool meetsAll = true;
        for (const auto& condition : requiredConditions) meetsAll = meetsAll && MeetsAttributeCondition(voice, condition);
        if (!meetsAll) continue;
        Candidate candidate{{}, &voice};
        for (const auto& condition : optionalConditions) {
            candidate.metOptional.push_back(MeetsAttributeCondition(voice, condition));
        }
        candidates.push_back(candidate);
    }
    // true sorts before false, condition by condition
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.metOptional > b.metOptional;
    });
    std::vector<VoiceInfo> selected;
    for (const Candidate& candidate : candidates) selected.push_back(*candidate.voice);
    return selected;
}

}  // namespace engine
