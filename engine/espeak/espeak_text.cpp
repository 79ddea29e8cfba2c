#include "engine/espeak/espeak_text.h"

#include <algorithm>
#include <cmath>

namespace engine {
namespace {

bool IsBlank(wchar_t c) { return c <= L' '; }

// The prosody in force at `position`.
Prosody ProsodyAt(const SpeechText& speech, ULONG position) {
    Prosody prosody;
    for (const ProsodyChange& change : speech.prosody) {
        if (change.position > position) break;
        prosody = change.prosody;
    }
    return prosody;
}

long ClampedRate(long rate) { return rate < -10 ? -10 : rate > 10 ? 10 : rate; }

std::wstring Escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'&') out += L"&amp;";
        else if (c == L'<') out += L"&lt;";
        else if (c == L'>') out += L"&gt;";
        else if (c < L' ' && c != L'\t' && c != L'\n' && c != L'\r') out += L' ';  // not allowed in XML
        else out += c;
    }
    return out;
}

// One run of text under one prosody, wrapped in the elements that say how to speak it.
std::wstring SpokenRun(const std::wstring& text, const Prosody& prosody, long voiceRate) {
    if (std::all_of(text.begin(), text.end(), IsBlank)) return text.empty() ? text : L" ";
    const long rate = ClampedRate(prosody.absoluteRate ? prosody.rate : voiceRate + prosody.rate);
    const long percent = std::lround(100.0 * EspeakWordsPerMinute(rate) / EspeakWordsPerMinute(voiceRate));
    std::wstring open, close;
    if (percent != 100 || prosody.volume != 100) {
        open += L"<prosody";
        if (percent != 100) open += L" rate=\"" + std::to_wstring(percent) + L"%\"";
        if (prosody.volume != 100) open += L" volume=\"" + std::to_wstring(prosody.volume) + L"\"";
        open += L">";
        close = L"</prosody>" + close;
    }
    if (prosody.emphasis) {
        open += L"<emphasis>";
        close = L"</emphasis>" + close;
    }
    if (prosody.spell) {
        open += L"<say-as interpret-as=\"characters\">";
        close = L"</say-as>" + close;
    }
    return open + Escaped(text) + close;
}

std::wstring MarkupInput(const SpeechText& speech, TextSpan chunk, long voiceRate) {
    const ULONG end = chunk.position + chunk.length;
    std::vector<ULONG> cuts = {chunk.position, end};
    for (const ProsodyChange& change : speech.prosody) {
        if (change.position > chunk.position && change.position < end) cuts.push_back(change.position);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    std::wstring ssml = L"<speak>";
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        ssml += SpokenRun(speech.text.substr(cuts[i], cuts[i + 1] - cuts[i]), ProsodyAt(speech, cuts[i]), voiceRate);
    }
    return ssml + L"</speak>";
}

}  // namespace

bool ChunkHasSpeech(const SpeechText& speech, TextSpan chunk) {
    for (ULONG i = chunk.position; i < chunk.position + chunk.length; ++i) {
        if (!IsBlank(speech.text[i])) return true;
    }
    return false;
}

TextSpan EspeakChunkAt(const SpeechText& speech, ULONG start, ULONG end) {
    TextSpan chunk = SentenceAt(speech.text, start);
    ULONG chunkEnd = std::min(chunk.position + chunk.length, end);
    for (const Silence& silence : speech.silences) {
        if (silence.position > start && silence.position < chunkEnd) chunkEnd = silence.position;
    }
    chunk.length = chunkEnd - chunk.position;
    return chunk;
}

bool SilenceInRange(const SpeechText& speech, TextSpan range, ULONG position) {
    const ULONG end = range.position + range.length;
    return position >= range.position && (position < end || (position == end && end == speech.text.size()));
}

ULONGLONG SilenceFrames(ULONGLONG milliseconds, DWORD samplesPerSec) {
    return (milliseconds * samplesPerSec + 500) / 1000;
}

long EspeakWordsPerMinute(long rate) {
    rate = ClampedRate(rate);
    const double base = rate >= 0 ? 3.0 : 175.0 / 80.0;
    return std::lround(175.0 * std::pow(base, rate / 10.0));
}

std::wstring EspeakInput(const SpeechText& speech, TextSpan chunk, long voiceRate) {
    if (!speech.markup) return speech.text.substr(chunk.position, chunk.length);
    return MarkupInput(speech, chunk, ClampedRate(voiceRate));
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    }
    return out;
}

}  // namespace engine
