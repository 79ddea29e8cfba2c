// The text a voice speaks: decoding a file's bytes, dropping markup (keeping what its tags ask
// for: bookmarks, silences and prosody, by position in the text, and where each spoken unit stood
// in the markup), finding words and sentences.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace engine {

// A run of UTF-16 units of a text.
struct TextSpan {
    ULONG position;
    ULONG length;
};

struct Bookmark {
    ULONG position;  // index in the spoken text before which the mark stands
    std::wstring name;
};

// How the text from a position on is to be spoken, as the markup's open tags say. Rates are in
// the voice's steps (-10..10): added to the voice's rate, or replacing it when `absoluteRate`.
struct Prosody {
    long rate = 0;
    bool absoluteRate = false;
    unsigned volume = 100;  // percent of the voice's volume
    bool emphasis = false;
    bool spell = false;  // letter by letter
    std::wstring voiceId;  // the voice <voice> or <lang> chose; empty: the stream's own voice
};

struct ProsodyChange {
    ULONG position;  // index in the spoken text from which `prosody` holds
    Prosody prosody;
};

struct Silence {
    ULONG position;
    ULONG milliseconds;
};

// A stretch of spoken text taken from the markup: from spoken unit `spoken` on, each unit stands
// for `width` units of the source from `source` on (1, or the length of the one entity it decodes).
// The stretch goes on up to the next run.
struct SourceRun {
    ULONG spoken;
    ULONG source;
    ULONG width;
};

struct SpeechText {
    std::wstring text;
    std::vector<Bookmark> bookmarks;
    bool markup = false;
    std::vector<ProsodyChange> prosody;  // in order of position; none for plain text
    std::vector<Silence> silences;
    // For markup, where the text stands in the markup source (see SourceSpan); empty when `text` is
    // the input itself.
    std::vector<SourceRun> source;
};

// Sentences longer than this many units are cut (see SplitIntoSentences).
const size_t LongestSentence = 400;

// A file read by name, as a SAPI voice on Windows reads it: UTF-16LE after FF FE, otherwise the ANSI
// code page (a UTF-8 file too: the program that speaks one gives its decoded text instead).
std::wstring DecodeTextBytes(const std::vector<unsigned char>& bytes);

// Which voice a <voice required="..." optional="..."> tag asks for (a <lang langid="x"> tag asks
// with required "Language=x"), given the id of the voice in force where it stands (empty: the
// stream's own voice): a token id, or `current` to keep it.
using VoiceChooser = std::function<std::wstring(const std::wstring& required, const std::wstring& optional,
                                                const std::wstring& current)>;

// Drops tags, decodes entities and collects <bookmark mark="..."/> and <silence msec="..."/>
// positions and the prosody that <rate>, <volume>, <emph> and <spell> ask for, and, with a
// chooser, the voices that <voice> and <lang> ask for; other tags are dropped without effect,
// their text kept. An empty one of those (<rate absspeed="5"/>) holds until the element enclosing
// it ends. Comments and processing instructions are skipped.
SpeechText ParseMarkup(const std::wstring& markup, const VoiceChooser& chooseVoice = nullptr);

// What a plain-text or markup input speaks.
SpeechText ParseSpeech(std::wstring input, bool isXml, const VoiceChooser& chooseVoice = nullptr);

// Decodes &lt; &gt; &amp; &quot; &apos; and numeric character references.
std::wstring DecodeEntities(const std::wstring& text);

// Runs of characters other than blanks and control characters.
std::vector<TextSpan> FindWords(const std::wstring& text);

// The first word that starts at or after `from`; length 0 when there is none.
TextSpan NextWord(const std::wstring& text, size_t from);

// Consecutive sentences that together cover the whole text. A sentence ends after its closing
// punctuation (. ! ? ; and their CJK forms, with any closing quotes or brackets, before a blank or
// the end) or at a paragraph break (a blank line), and takes the blanks that follow it; one that
// would grow beyond `maxUnits` is cut after its last blank (or, being one word, where it is full).
std::vector<TextSpan> SplitIntoSentences(const std::wstring& text, size_t maxUnits = LongestSentence);

// The sentence of SplitIntoSentences that starts at `start`, found without looking further.
TextSpan SentenceAt(const std::wstring& text, size_t start, size_t maxUnits = LongestSentence);

// The sentences as a voice reports them: each from its first non-blank unit to its end; sentences
// of blanks only (leading blanks of the text included) are left out.
std::vector<TextSpan> FindSentences(const std::wstring& text);

// The first sentence as FindSentences reports it, of the text from `from` on (where a sentence
// starts: 0, or the end of one); length 0 when there is none.
TextSpan NextSentence(const std::wstring& text, size_t from);

// Where speech goes on after skipping `count` sentences forward (ISpVoice::Skip) from the sentence
// of SplitIntoSentences that holds `position`: the start of the count-th sentence after it, or the
// end of the text when fewer follow; `skipped` says how many were passed.
size_t SentenceSkipTarget(const std::wstring& text, size_t position, ULONG count, ULONG& skipped);

// Where a span of the spoken text stands in the input the voice was given: the same span for plain
// text; for markup, from the source of its first unit to the end of the source of its last (tags in
// between included).
TextSpan SourceSpan(const SpeechText& speech, TextSpan spoken);

// Without an explicit flag, input whose first non-blank character is '<' is markup.
bool LooksLikeMarkup(const std::wstring& input);

}  // namespace engine
