// In-process SAPI 5 speech engine stand-in for tests: a voice, a notify translator and a
// voices token category, registered as class objects of the calling apartment so that the
// plug-in's own CoCreateInstance calls reach them. Everything below is for test code; the
// plug-in itself only ever sees the COM objects.
//
// The voice speaks with a deterministic tone voice: every UTF-16 unit of the spoken text
// becomes FramesPerCharacter(rate) frames of ToneSample values, in the output's PCM format.
// Where espeak-ng can be run (under Wine), espeak-ng voices that speak for real can be
// offered as well (OfferEspeakVoices). The same engine is also built as txtengine_server.dll, an
// in-process server that `regsvr32` registers for a whole Wine prefix (engine/server/).
// Synthesis runs on one engine thread per voice, which calls the output's Write in blocks
// (see SetBlockSizes) and queues events after the audio they belong to was written. In markup,
// <voice required="..." optional="..."> and <lang langid="..."> choose another installed voice
// for the text they enclose (voice_choice.h); the tone voice's pitch follows the chosen token.
//
// Events of one stream, in order, each with the stream number and its byte offset in the audio:
//   SPEI_START_INPUT_STREAM; SPEI_VOICE_CHANGE (lParam a token); two SPEI_TTS_PRIVATE, one with
//   task memory (SPET_LPARAM_IS_POINTER) and one with an object (SPET_LPARAM_IS_OBJECT); then,
//   after the Write that holds their first sound, SPEI_TTS_BOOKMARK (lParam the mark as a
//   task-memory string, wParam its leading number), SPEI_SENTENCE_BOUNDARY and
//   SPEI_WORD_BOUNDARY (both: lParam position, wParam length); SPEI_END_INPUT_STREAM last, after
//   the last Write.
// Positions and lengths of sentences and words count UTF-16 units of the input the voice was
// given: the decoded file text, or for markup the markup source, tags and entities included (as
// SAPI's voices do), not the spoken text. Sentences are those of FindSentences (speech_text.h):
// they end after . ! ? ; (with closing quotes or brackets) before a blank, or at a blank line, and
// include the blanks after them; each starts at its first non-blank unit; one longer than 400
// units is cut after a blank.
// The tone voice's offsets are predictable: a sentence or word whose first unit is unit i of the
// spoken text starts at byte i * FramesPerCharacter(rate) * block align, while the rate stays the
// same (ToneSentenceEvents predicts the sentences of a file). The espeak-ng voice sends one
// sentence event per sentence it synthesises, at the offset where that sentence's sound starts.
// A purged stream still gets its SPEI_END_INPUT_STREAM (offset: the bytes written so far); a
// queued stream that never started gets SPEI_START_INPUT_STREAM and SPEI_END_INPUT_STREAM.
// The voice answers WaitUntilDone only after the sink has been told of the last events.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct ISpStreamFormat;

namespace engine {

// Registers the class factories of the voice, the notify translator and the token
// category on the calling thread (CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE). Registration
// is per apartment: call it on the thread that creates the objects. Also starts watching
// COM task memory so that freed event payloads are counted (see PayloadFrees).
HRESULT RegisterClasses();

// Revokes what RegisterClasses registered on the calling thread; harmless when nothing is.
void RevokeClasses();

// The class factory of the voice, the notify translator or the token category, for a
// DllGetClassObject; CLASS_E_CLASSNOTAVAILABLE for any other class id.
HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object);

// The three class ids, as registered by RegisterClasses and served by GetClassObject.
extern const CLSID VoiceClassId;
extern const CLSID TranslatorClassId;
extern const CLSID CategoryClassId;

// ---- Installed voices -------------------------------------------------------------------

// One installed voice: its token id and its string values. A value name is a language
// name such as L"409", or L"" for the token's default value.
struct VoiceInfo {
    std::wstring id;
    std::vector<std::pair<std::wstring, std::wstring>> values;
    // The values of its Attributes key (Language as hexadecimal language ids, Gender, Age, Name,
    // Vendor), which markup's <voice> and <lang> choose voices by.
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    // The espeak-ng voice that speaks for it, as `espeak-ng -v` takes it; empty for the tone voice.
    std::wstring espeakVoice;
    // Set for a voice someone else registered (see ListRegisteredVoices): its token's CLSID value,
    // the class of the ISpTTSEngine that speaks it (empty when the token has none).
    bool registered = false;
    std::wstring engineClassId;
};

// The id of the voices category, the only category that exists.
extern const wchar_t VoicesCategoryId[];

// The three voices installed by default (ids ending in TxtTone1..3). TxtTone1 and TxtTone2
// have a "409" and a default value; TxtTone3 has only a default value. Their attributes:
// TxtTone1 Language 409, Female; TxtTone2 Language 407, Male; TxtTone3 Language 40C, Female.
std::vector<VoiceInfo> DefaultVoices();

// The espeak-ng voices: real speech by espeak-ng run on the Linux side of Wine, one voice for
// every voice `espeak-ng --voices` lists on the machine (the rate sets the speed; markup's rate,
// volume, emphasis, spelling and silences are kept; sox converts the sound to the output's rate).
// They are not among the default voices: they exist only where espeak-ng and sox can be run,
// which a process learns once, with the list, from EspeakAvailable (false on Windows). Their ids,
// descriptions and attributes are those of EspeakVoiceInfos (espeak/espeak_voices.h).
// EspeakVoiceId is the English (America) voice, the only one there was before; EspeakVoice() is
// that voice (as it is listed, or as it would be where espeak-ng cannot run).
// Speak with a voice whose espeak-ng voice espeak-ng did not list fails at once with
// SPERR_NOT_FOUND. When espeak-ng or sox fails on a piece (a sentence), also when espeak-ng dies
// after part of its sound, the piece is tried once more; when that fails too, the stream ends there
// (its SPEI_END_INPUT_STREAM still comes), GetStatus's hrLastResult holds E_FAIL and one line on
// stderr says what failed. <silence> is played by the voice itself, as zero samples in the output's
// format, so one of any length plays whole.
extern const wchar_t EspeakVoiceId[];
VoiceInfo EspeakVoice();
std::vector<VoiceInfo> EspeakVoices();  // English first; empty where espeak-ng cannot run
bool EspeakAvailable();

// Puts the espeak-ng voices first among the installed voices, English first, so a new voice speaks
// with it unless told otherwise; false, changing nothing, where espeak-ng cannot be run. Reset
// undoes it.
bool OfferEspeakVoices();

// Replaces the installed voices; enumerators made afterwards list these.
void SetInstalledVoices(std::vector<VoiceInfo> voices);

// When on, voices others registered under the voices category's key (Voices\Tokens under
// HKLM\SOFTWARE\Microsoft\Speech: Wine's own, or any SAPI 5 voice installed in the prefix) are
// listed after the installed ones, and a voice speaking with one hosts its engine: the ISpTTSEngine its token's CLSID names is
// created (Speak fails with the creation's error, or SPERR_UNSUPPORTED_FORMAT when the engine's output
// format is not the output's), given its token, and its Speak is called on the voice's engine thread
// with a fragment list of the parsed text and an engine site that writes to the voice's output.
// Tokens that registration wrote for the installed voices are not listed again. Off by default and after
// Reset, so in-process tests list exactly the voices they install; the server DLL turns it on.
void ListRegisteredVoices(bool on);

// When set, SetId of the voices category fails with SPERR_NOT_FOUND.
void SetCategoryMissing(bool missing);

// ---- Failure injection -----------------------------------------------------------------

// Operations that can be made to fail. Create* are the class factories' CreateInstance;
// Speak is every Speak with text or a file, SpeakPurge a Speak without text.
enum class Op {
    CreateVoice,
    CreateTranslator,
    CreateCategory,
    InitWin32Event,
    SetNotifySink,
    SetInterest,
    SetOutput,
    SetVoice,
    SetRate,
    Speak,
    SpeakPurge,
    Pause,
    Resume,
    WaitUntilDone,
    GetEvents,
    GetStatus,
    CategorySetId,
    EnumTokens,
    EnumNext,
    TokenGetId,
    TokenGetStringValue,
};

constexpr int EveryCall = 0;

// The nthCall-th call of op (1-based, counted since start-up or Reset) returns result
// instead of doing its work; with EveryCall, every call from now on does. Out pointers are
// left null. A success code such as S_FALSE may be injected as well.
void InjectFailure(Op op, int nthCall, HRESULT result);
void ClearFailures();

// ---- Synthesis -----------------------------------------------------------------------

enum class Speed { AsFastAsPossible, RealTime };
void SetSynthesisSpeed(Speed speed);

// Sizes in bytes of the blocks handed to Write, used in turn; each is rounded down to whole
// frames (at least one frame). The default is a mix of small, odd and large sizes.
void SetBlockSizes(std::vector<unsigned> bytes);

// How long a purge waits for the engine thread to leave Write before it gives up, records
// PurgeTimedOut and fails with HRESULT_FROM_WIN32(ERROR_TIMEOUT). Default 10000 ms.
void SetPurgeWatchdog(DWORD milliseconds);
bool PurgeTimedOut();

// When set, the end-of-input events of purged streams are held back and queued only after
// the first block of the next stream has been written (or at its end, if it has no audio).
void SetLatePurgedEndEvents(bool late);

// When off, voices send word boundaries but no sentence boundaries, as some real voices do. On by
// default and after Reset.
void SetSentenceEvents(bool on);

// When set, a voice's last Release waits for its engine thread to end, however long that takes, as
// a real engine's may: a Release while that thread is inside the output's Write returns only once
// Write has returned. (By default it waits at most the purge watchdog's time, then lets the thread
// go.) A test turns it on after Reset and before the voice's last Release; off after Reset. A
// Release on the engine thread itself cannot wait for it and lets it go.
void SetReleaseWaitsForEngineThread(bool wait);

// A Windows folder in which the Linux programs the espeak-ng voices run (espeak-ng, sox) are looked
// for first, as if it stood first in their PATH, so a test can put its own in their place; empty
// (the default, and after Reset): PATH alone.
void SetUnixProgramFolder(const std::wstring& windowsFolder);

// ---- Observation -----------------------------------------------------------------------

enum class ObjectKind { Voice, Translator, Category, Enumerator, Token, PayloadObject };

// References per kind of object: addRefs counts every reference taken (the one an object
// is born with included), releases every Release, live the objects not yet destroyed.
// The engine's own references are counted too; they are all given back when the objects
// holding them go away.
struct RefCounts {
    long addRefs = 0;
    long releases = 0;
    long live = 0;
};
RefCounts Counts(ObjectKind kind);

// Task-memory event payloads (strings and pointers) that GetEvents handed out, and how
// many of them were freed with CoTaskMemFree. Frees are seen only when the process's malloc
// spy could be registered (TaskMemoryWatched).
struct PayloadFrees {
    long handedOut = 0;
    long freed = 0;
};
PayloadFrees TaskMemoryPayloads();
bool TaskMemoryWatched();

// The calls made on the engine's objects, in order. Voice calls go by their names:
// L"SetRate(-5)", L"Speak(C:\\a.txt, 21) -> 2", L"Speak(NULL, 2)", L"SetVoice(<token id>)",
// L"SetOutput(PCM 44100 Hz 16 bit 2 ch)", L"SetInterest(0x24000FFFE, 0x24000FFFE)",
// L"Resume()", L"WaitUntilDone(0)"; the others are prefixed: L"CreateVoice",
// L"CreateTranslator", L"CreateCategory", L"Translator.InitWin32Event(event, 0)",
// L"Category.SetId(<id>, 0)", L"Category.EnumTokens(NULL, NULL)", L"Enum.Next(1)",
// L"Token.GetId() -> <id>", L"Token.GetStringValue(409)". A result other than S_OK is appended
// as L" = 0x80004005". GetEvents, Notify, AddRef and Release are not logged.
std::vector<std::wstring> CallLog();

// Every byte the engine handed to the output's Write for one stream, or for all streams in
// the order they were first written, and the sizes of those Write calls. Stream numbers are
// counted per voice, so with several voices alive their records share numbers.
std::vector<unsigned char> DeliveredPcm(ULONG streamNumber);
std::vector<unsigned char> DeliveredPcm();
std::vector<ULONG> WriteSizes(ULONG streamNumber);

// Whether the delivered PCM is recorded at all (on by default and after Reset). Off for long runs
// (txtplay, the server DLL), which would otherwise keep every byte they ever spoke.
void SetRecordDeliveredPcm(bool on);

ULONG LastStreamNumber();   // the number the last Speak handed out, 0 before any
long CurrentRate();         // the rate of the most recently used voice
std::wstring CurrentVoiceId();

// The stream that the most recent successful SetOutput was given, with a reference for the caller,
// while the voice it was given to is alive and still has it; else SPERR_NOT_FOUND and null. Lets a
// test or a benchmark call the output's Write itself, on its own thread.
HRESULT GetLastOutputStream(ISpStreamFormat** stream);

// Waits until no voice has anything left to speak; false on time-out.
bool WaitUntilIdle(DWORD timeoutMilliseconds);

// Back to the start-up state: default voices, no failures and call counts, fast synthesis,
// default block sizes and watchdog, logs, PCM records and counters emptied. Objects that are
// alive stay as they are, and so do their `live` counts.
void Reset();

// ---- Predicting what the tone voice produces -------------------------------------------

// The text the voice speaks for a file's bytes: UTF-16LE after an FF FE mark, UTF-8 after
// an EF BB BF mark, otherwise the ANSI code page; for markup, tags are dropped and the
// entities &lt; &gt; &amp; &quot; &apos; decoded.
std::wstring SpokenText(const std::vector<unsigned char>& fileBytes, bool isXml);

// Frames per UTF-16 unit at a rate of -10..10 (64 at rate 0, about 64 * 3^(-rate/10)).
unsigned FramesPerCharacter(long rate);

// The 16-bit sample of frame `frame` (counted from the character's first frame) of a
// character spoken by the voice with the given token id. Blanks and control characters
// are silent (0). 8-bit output is 128 + sample / 256; every channel carries the same value.
short ToneSample(wchar_t character, unsigned frame, const std::wstring& voiceId);

// The whole PCM of a text spoken at one rate, in the given PCM format.
std::vector<unsigned char> RenderTone(const std::wstring& text, long rate, const std::wstring& voiceId,
                                      const WAVEFORMATEX& format);

// A text event as a voice reports it: lParam, wParam and the byte offset of its first sound.
struct TextEvent {
    ULONG position;
    ULONG length;
    ULONGLONG audioOffset;
};

// The sentence-boundary events the tone voice sends for a file's bytes spoken at one rate in the
// format: positions in the decoded text, or in the markup source when isXml.
std::vector<TextEvent> ToneSentenceEvents(const std::vector<unsigned char>& fileBytes, bool isXml, long rate,
                                          const WAVEFORMATEX& format);

}  // namespace engine
