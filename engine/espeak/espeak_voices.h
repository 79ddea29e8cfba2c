// The voices espeak-ng offers on this machine, as voices of the engine: one token for every voice
// `espeak-ng --voices` lists, found once per process.
#pragma once

#include "engine/engine.h"

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// One voice as `espeak-ng --voices` lists it.
struct EspeakListing {
    std::wstring language;  // its language tag, e.g. L"en-us"
    std::wstring age;       // years, or L"--" when not given
    std::wstring gender;    // L"M", L"F" or L"-"
    std::wstring name;      // e.g. L"English (America)": espeak-ng's name, its underscores read as blanks
    std::wstring file;      // the voice file, which `espeak-ng -v` takes: e.g. L"gmw/en-US"
    std::vector<std::wstring> otherLanguages;  // tags it also speaks, e.g. {L"en"}
};

// Reads what `espeak-ng --voices` prints (UTF-8): the header and any line that is not a voice
// are skipped.
std::vector<EspeakListing> ParseEspeakListing(const std::string& utf8);

// The Windows language id of a voice, from Windows' own locale table (LocaleNameToLCID): that of
// its language tag, or else of the tag with its last subtags dropped one by one ("en-gb-x-rp" ->
// "en-gb"), or else of its other languages in that way, in order. 0 when Windows knows none of
// them (a constructed or rare language); such a voice gets no Language attribute.
LANGID EspeakLanguageId(const EspeakListing& voice);

// The engine's voice for each listed voice, English (America) first under its old token id
// TxtEspeakEnglish, the others in the listing's order as TxtEspeak-<voice file name>. Each has
// the description "eSpeak NG <name>" (default and "409" values) and the attributes Language (when
// known), Gender (when given), Age (Child, Teen, Adult or Senior; Adult when not given), Name
// (the description) and Vendor "eSpeak NG".
std::vector<VoiceInfo> EspeakVoiceInfos(const std::vector<EspeakListing>& listing);

// espeak-ng's voices on this machine, listed once per process; empty where espeak-ng and sox
// cannot both be run.
const std::vector<EspeakListing>& EspeakListingOfThisMachine();

}  // namespace engine
