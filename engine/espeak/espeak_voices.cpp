#include "engine/espeak/espeak_voices.h"

#include "engine/espeak/espeak_runner.h"

#include <cwctype>
#include <map>
#include <mutex>
#include <sstream>

namespace engine {
namespace {

const wchar_t TokensKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";
const wchar_t EnglishLanguage[] = L"en-us";  // the voice that speaks first, under its old token id

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(units > 0 ? units : 0, L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

std::vector<std::wstring> Words(const std::wstring& line) {
    std::wistringstream in(line);
    std::vector<std::wstring> words;
    for (std::wstring word; in >> word;) words.push_back(word);
    return words;
}

// "(en-gb 4)(en 5)" read as words "(en-gb", "4)(en", "5)": the tags that follow an opening bracket.
std::vector<std::wstring> OtherLanguages(const std::vector<std::wstring>& words, size_t from) {
    std::wstring joined;
    for (size_t i = from; i < words.size(); ++i) joined += words[i] + L" ";
    std::vector<std::wstring> tags;
    for (size_t open = joined.find(L'('); open != std::wstring::npos; open = joined.find(L'(', open + 1)) {
        size_t end = open + 1;
        while (end < joined.size() && !std::iswspace(joined[end]) && joined[end] != L')') ++end;
        if (end > open + 1) tags.push_back(joined.substr(open + 1, end - open - 1));
    }
    return tags;
}

std::wstring Blanks(std::wstring name) {
    for (wchar_t& c : name)
        if (c == L'_') c = L' ';
    return name;
}

// A Windows language id for a tag, or for the tag with its last subtags dropped; 0 when none.
LANGID LanguageIdOfTag(std::wstring tag) {
    for (;;) {
        const LCID lcid = LocaleNameToLCID(tag.c_str(), 0);
        // Windows answers custom or unknown locales with ids of no language (0x1000 and the like).
        if (lcid != 0 && (lcid >> 16) == 0 && PRIMARYLANGID(LANGIDFROMLCID(lcid)) != LANG_NEUTRAL) {
            return LANGIDFROMLCID(lcid);
        }
        const size_t dash = tag.rfind(L'-');
        if (dash == std::wstring::npos) return 0;
        tag.resize(dash);
    }
}

std::wstring HexLanguageId(LANGID id) {
    wchar_t text[8];
    swprintf(text, 8, L"%X", static_cast<unsigned>(id));
    return text;
}

// SAPI's age groups for a voice's age in years; espeak-ng's voices speak as adults unless they say.
std::wstring AgeGroup(const std::wstring& years) {
    wchar_t* end = nullptr;
    const long age = std::wcstol(years.c_str(), &end, 10);
    if (end == years.c_str()) return L"Adult";
    return age < 13 ? L"Child" : age < 20 ? L"Teen" : age < 65 ? L"Adult" : L"Senior";
}

std::wstring BaseName(const std::wstring& file) { return file.substr(file.rfind(L'/') + 1); }

std::wstring TokenName(const EspeakListing& voice, const std::map<std::wstring, int>& baseNames) {
    if (voice.language == EnglishLanguage) return L"TxtEspeakEnglish";
    std::wstring name = BaseName(voice.file);
    if (baseNames.at(name) > 1) {  // two voice files of one name in different folders
        name = voice.file;
        for (wchar_t& c : name)
            if (c == L'/') c = L'-';
    }
    return L"TxtEspeak-" + name;
}

VoiceInfo VoiceFor(const EspeakListing& voice, const std::map<std::wstring, int>& baseNames) {
    VoiceInfo info;
    info.id = TokensKey + TokenName(voice, baseNames);
    const std::wstring description = L"eSpeak NG " + voice.name;
    info.values = {{L"409", description}, {L"", description}};
    if (const LANGID language = EspeakLanguageId(voice)) {
        info.attributes.push_back({L"Language", HexLanguageId(language)});
    }
    if (voice.gender == L"M") info.attributes.push_back({L"Gender", L"Male"});
    if (voice.gender == L"F") info.attributes.push_back({L"Gender", L"Female"});
    info.attributes.push_back({L"Age", AgeGroup(voice.age)});
    info.attributes.push_back({L"Name", description});
    info.attributes.push_back({L"Vendor", L"eSpeak NG"});
    info.espeakVoice = voice.file;
    return info;
}

}  // namespace

std::vector<EspeakListing> ParseEspeakListing(const std::string& utf8) {
    std::vector<EspeakListing> listing;
    std::wistringstream lines(FromUtf8(utf8));
    for (std::wstring line; std::getline(lines, line);) {
        // Pty Language Age/Gender VoiceName File [Other Languages]; the header's first word is no number.
        const std::vector<std::wstring> words = Words(line);
        if (words.size() < 5 || !std::iswdigit(words[0][0])) continue;
        const size_t slash = words[2].find(L'/');
        if (slash == std::wstring::npos) continue;
        EspeakListing voice;
        voice.language = words[1];
        voice.age = words[2].substr(0, slash);
        voice.gender = words[2].substr(slash + 1);
        voice.name = Blanks(words[3]);
        voice.file = words[4];
        voice.otherLanguages = OtherLanguages(words, 5);
        listing.push_back(voice);
    }
    return listing;
}

LANGID EspeakLanguageId(const EspeakListing& voice) {
    if (const LANGID id = LanguageIdOfTag(voice.language)) return id;
    for (const std::wstring& other : voice.otherLanguages) {
        if (const LANGID id = LanguageIdOfTag(other)) return id;
    }
    return 0;
}

std::vector<VoiceInfo> EspeakVoiceInfos(const std::vector<EspeakListing>& listing) {
    std::map<std::wstring, int> baseNames;
    for (const EspeakListing& voice : listing) ++baseNames[BaseName(voice.file)];
    std::vector<VoiceInfo> voices;
    for (const EspeakListing& voice : listing) {
        VoiceInfo info = VoiceFor(voice, baseNames);
        if (voice.language == EnglishLanguage) voices.insert(voices.begin(), info);
        else voices.push_back(info);
    }
    return voices;
}

const std::vector<EspeakListing>& EspeakListingOfThisMachine() {
    static std::once_flag listed;
    static std::vector<EspeakListing>* listing = new std::vector<EspeakListing>;  // outlives engine threads
    std::call_once(listed, [] {
        std::string utf8;
        if (ListEspeakVoices(utf8)) *listing = ParseEspeakListing(utf8);
    });
    return *listing;
}

}  // namespace engine
