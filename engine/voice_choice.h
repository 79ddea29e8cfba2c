// Choosing among the installed voices by their attributes, as SAPI's markup does with
// <voice required="..." optional="..."> and <lang langid="...">: conditions such as
// "Gender=Female;Language=419" on the values of each voice's Attributes key.
#pragma once

#include "engine/engine.h"

#include <string>
#include <vector>

namespace engine {

// Whether a voice meets one condition, "Name=value" or "Name!=value" (blanks around either part
// do not count). Names and values compare without regard to case, except Language, whose values
// are hexadecimal language ids compared as numbers; a voice whose Language lists several ids
// ("409;9") meets Language=x when any of them is x. A condition on anything but Language, Gender,
// Age, Name and Vendor, or without '=', is no condition: every voice meets it.
bool MeetsCondition(const VoiceInfo& voice, const std::wstring& condition);

// How many of the ';'-separated conditions the voice meets, and whether it meets them all.
struct ConditionCount {
    size_t met = 0;
    bool all = true;
};
ConditionCount CountConditions(const VoiceInfo& voice, const std::wstring& conditions);

// The id of the voice a tag asks for: among `voices` that meet every required condition, the one
// that meets the most optional ones; on a tie the current voice if it is one of them, else the
// first in order. `current` when no voice meets the required conditions.
std::wstring ChooseVoice(const std::vector<VoiceInfo>& voices, const std::wstring& required,
                         const std::wstring& optional, const std::wstring& current);

// The voices a token category lists for attribute strings, as EnumTokens takes them: those that
// meet every required condition, ordered by the optional ones. Conditions are ';'-separated:
// "Name=value", "Name!=value", or a bare "Name" (the voice has that attribute at all); any
// attribute name counts. A bare hexadecimal number after a Language condition is one more language
// that condition accepts ("Language=409;9": US English or any English). A voice that meets the
// first optional condition comes before one that does not, then the second decides, and so on;
// voices that tie keep their order.
std::vector<VoiceInfo> SelectVoices(const std::vector<VoiceInfo>& voices, const std::wstring& required,
                                    const std::wstring& optional);

}  // namespace engine
