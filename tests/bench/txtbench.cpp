// txtbench: measures the plug-in's speech path in the player host with the speech engine stand-in,
// all in one run, and prints one table of figures against their aims.
//
//   txtbench.exe [--markdown FILE] [--machine TEXT] [--trials N] [--only SECTION]
//
// --markdown also writes the table as Markdown with the date and the machine's description (which
// the caller supplies with --machine: the CPU is not easily read from inside Wine). --trials sets
// the trials of each latency figure (default 100). --only runs one section: write, stop, eof, play,
// quit, cycles, window (the Text info window with long texts), shapes (texts on one line, replacing
// a long text, Quit after one) or espeak (the espeak-ng voices, where
// espeak-ng runs: first sound, one sentence through espeak-ng and sox, Play and the Voice page with
// every voice installed). A message box from the plug-in ends the run: a figure measured past an error would
// mean nothing.
//
// The host runs lean: its call log keeps nothing and the engine keeps no copy of the sound, so the
// figures are about the plug-in's path and not about the stand-ins' bookkeeping.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <richedit.h>
#include <sapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/scoped.h"
#include "documents/document_text.h"
#include "engine/engine.h"
#include "engine/espeak/espeak_runner.h"
#include "host/call_log.h"
#include "host/files.h"
#include "host/message_box_watcher.h"
#include "host/output_module.h"
#include "host/player_entries.h"
#include "host/plugin_host.h"
#include "infowindow/text_decoding.h"
#include "resources/resource.h"
#include "tests/bench/allocation_counter.h"
#include "tests/bench/measures.h"
#include "tests/book_files.h"
#include "tests/plugin/text_info_probe.h"
#include "tests/test_support.h"

namespace {

// ---- The table -------------------------------------------------------------------------------

struct Row {
    std::string figure;
    std::string measured;
    std::string aim;
    std::string verdict;  // "met", "missed" or "-" (no aim)
};
std::vector<Row> Rows;

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0, double e = 0) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b, c, d, e);
    return text;
}

void AddRow(const std::string& figure, const std::string& measured, const std::string& aim, int met) {
    Rows.push_back({figure, measured, aim, met < 0 ? "-" : met ? "met" : "missed"});
    std::printf("  %-52s %s\n", figure.c_str(), measured.c_str());
    std::fflush(stdout);
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "txtbench: %s\n", what.c_str());
    std::exit(2);
}

// ---- A player with the plug-in ----------------------------------------------------------------

// Settings of every session: 48 kHz, 16-bit, stereo (stream-format modes 8, 1, 1).
const char STEREO_48K[] = "[in_txt]\r\nSampleRateMode=8\r\nBitsPerSampleMode=1\r\nNumChannelsMode=1\r\n";
constexpr int FRAME_BYTES = 4;
constexpr int RATE = 48000;
constexpr int CHUNK_BYTES = 576 * FRAME_BYTES;

std::unique_ptr<host::PluginHost> StartPlayer(host::DrainMode drain, const std::string& ini = STEREO_48K,
                                              bool espeakVoices = false) {
    engine::Reset();
    host::SetDspMode(host::DspMode::Off);
    host::SetCallLogging(false);
    host::HostOptions options;
    options.offerEspeakVoice = espeakVoices;
    options.output.drain = drain;
    options.showMainWindow = false;
    options.recordEngineOutput = false;
    options.iniContents = ini;
    auto player = std::make_unique<host::PluginHost>(options);
    if (!player->Load()) Fail("the host did not load the plug-in: " + player->Error());
    player->Init();
    return player;
}

struct Texts {
    std::string folder;
    std::string shortFile;   // a few milliseconds of sound
    std::string eofFile;     // about 130 ms
    std::string drainFile;   // about half a second
    std::string longFile;    // four seconds: more than the output's two-second buffer holds
};

Texts MakeTexts() {
    Texts texts;
    texts.folder = host::CreateUniqueTempFolder("txtbench_");
    if (texts.folder.empty()) Fail("cannot create a temporary folder");
    const auto make = [&](const char* name, size_t characters) {
        std::string text;
        while (text.size() < characters) text += "Speak up. ";
        text.resize(characters);
        const std::string path = texts.folder + "\\" + name;
        if (!host::WriteWholeFile(path, text)) Fail("cannot write " + path);
        return path;
    };
    // The tone voice speaks 64 frames a character at the default rate.
    texts.shortFile = make("short.txt", 12);
    texts.eofFile = make("eof.txt", RATE * 130 / 1000 / 64);
    texts.drainFile = make("drain.txt", RATE / 2 / 64);
    texts.longFile = make("long.txt", RATE * 4 / 64);
    return texts;
}

long long Buffered(const host::OutputState& output) { return output.written - output.played; }

double TimeMs(const std::function<void()>& call) {
    const double start = bench::NowMs();
    call();
    return bench::NowMs() - start;
}

// ---- Write throughput and allocations ----------------------------------------------------------

struct WriteFigures {
    double writeMs = 0;
    double memcpyMs = 0;
    double hostCallsMs = 0;  // the player's entries alone, called as Write calls them
    long allocations = 0;
};

// Calls the player's entries for the block the way Write hands it on, chunk by chunk, without the
// plug-in: what the player side costs of the Write figure.
void CallHostEntriesAsWriteDoes(const In_Module& module, const std::vector<BYTE>& block) {
    const bool dsp = module.dsp_isactive() != 0;
    const size_t chunk = dsp ? 2 * CHUNK_BYTES : CHUNK_BYTES;
    BYTE* bytes = const_cast<BYTE*>(block.data());
    for (size_t offset = 0; offset < block.size(); offset += chunk) {
        const int length = static_cast<int>(block.size() - offset < chunk ? block.size() - offset : chunk);
        module.outMod->CanWrite();
        const int time = module.outMod->GetWrittenTime();
        module.SAAddPCMData(bytes + offset, 2, 16, time);
        module.VSAAddPCMData(bytes + offset, 2, 16, time);
        int frames = length / FRAME_BYTES;
        if (module.dsp_isactive()) frames = module.dsp_dosamples(reinterpret_cast<short*>(bytes + offset), frames, 16, 2, RATE);
        module.outMod->Write(reinterpret_cast<char*>(bytes + offset), frames * FRAME_BYTES);
    }
}

// Times the stream's Write with one large block against memcpy of the same bytes, interleaved so
// both see the same machine; medians of the trials.
WriteFigures TimeWrites(const In_Module& module, ISpStreamFormat* stream, const std::vector<BYTE>& block,
                        int trials) {
    std::vector<BYTE> copy(block.size());
    std::vector<BYTE> scratch(block);  // the pass-through DSP may be handed it to work on
    std::vector<double> writeMs, copyMs, hostMs;
    ULONG written = 0;
    stream->Write(block.data(), static_cast<ULONG>(block.size()), &written);  // warm-up
    WriteFigures figures;
    for (int i = 0; i < trials; ++i) {
        const long long before = host::OutputSnapshot().written;
        bench::StartCounting();
        writeMs.push_back(TimeMs([&] { stream->Write(block.data(), static_cast<ULONG>(block.size()), &written); }));
        figures.allocations += bench::StopCounting();
        if (host::OutputSnapshot().written - before != static_cast<long long>(block.size()))
            Fail("Write did not hand the whole block to the output");
        copyMs.push_back(TimeMs([&] { std::memcpy(copy.data(), block.data(), block.size()); }));
        if (std::memcmp(copy.data(), block.data(), 64) != 0) Fail("memcpy copied nothing");
        hostMs.push_back(TimeMs([&] { CallHostEntriesAsWriteDoes(module, scratch); }));
    }
    figures.writeMs = bench::Percentile(writeMs, 0.5);
    figures.memcpyMs = bench::Percentile(copyMs, 0.5);
    figures.hostCallsMs = bench::Percentile(hostMs, 0.5);
    return figures;
}

// The time of Write is mostly the player's own entries, which the plug-in must call chunk by chunk;
// what the plug-in adds on top is its own share. memcpy of the same bytes is shown for scale. A DSP
// needs each block copied into the buffer it may change, so with one the aim is that copy: at most one
// memcpy of the block, the least any plug-in can do.
void AddWriteRow(const char* figure, const WriteFigures& figures, bool dsp) {
    // Two medians of noisy samples: a difference below zero means "nothing measurable".
    const double ownMs = figures.writeMs > figures.hostCallsMs ? figures.writeMs - figures.hostCallsMs : 0.0;
    const double share = figures.writeMs > 0 ? ownMs / figures.writeMs : 0.0;
    AddRow(figure,
           Format("%.1f %% (%.3f of %.3f ms; the player's entries %.3f ms; memcpy %.3f ms)", 100 * share, ownMs,
                  figures.writeMs, figures.hostCallsMs, figures.memcpyMs),
           dsp ? "<= 1 memcpy of the block" : "<= 5 %", dsp ? ownMs <= figures.memcpyMs : share <= 0.05);
}

void MeasureWritePath(const Texts& texts, int trials) {
    std::printf("Write path (2 s of 48 kHz 16-bit stereo a call, output always with room)\n");
    auto player = StartPlayer(host::DrainMode::Instant);
    if (player->Play(texts.shortFile) != 0 || !player->WaitForEndOfFile(10000)) Fail("the first file did not play");
    // The output stays open: the file ended but the player has not stopped it.
    ISpStreamFormat* stream = nullptr;
    if (FAILED(engine::GetLastOutputStream(&stream))) Fail("the engine holds no output stream");

    const std::vector<std::string> patched = bench::InstallAllocationCounter(player->Library());
    // The counter must see an allocation the plug-in makes on this thread: GetFormat copies the format.
    GUID formatId;
    WAVEFORMATEX* format = nullptr;
    bench::StartCounting();
    stream->GetFormat(&formatId, &format);
    const long calibration = bench::StopCounting();
    CoTaskMemFree(format);
    if (calibration < 1) Fail("the allocation counter did not see GetFormat's copy of the format");

    std::vector<BYTE> block(2 * RATE * FRAME_BYTES);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i * 7 + i / 4096);
    const WriteFigures plain = TimeWrites(*player->Module(), stream, block, trials / 4 + 5);
    host::SetDspMode(host::DspMode::PassThrough);
    const WriteFigures withDsp = TimeWrites(*player->Module(), stream, block, trials / 4 + 5);
    host::SetDspMode(host::DspMode::Off);
    bench::RemoveAllocationCounter();
    stream->Release();

    AddWriteRow("Write: the plug-in's own share, no DSP", plain, false);
    AddWriteRow("Write: the plug-in's own share, test DSP (pass-through)", withDsp, true);
    std::string imports;
    for (const std::string& name : patched) imports += (imports.empty() ? "" : ", ") + name;
    AddRow("Heap allocations inside Write (both runs)",
           Format("%.0f (counter saw %.0f in GetFormat)", plain.allocations + withDsp.allocations, calibration) +
               "; imports watched: " + imports,
           "0", plain.allocations + withDsp.allocations == 0);
    player->Stop();
}

// ---- Stop latency ------------------------------------------------------------------------------

// Sets up one trial's state; false when the state was not reached.
using StateSetup = std::function<bool(host::PluginHost&, int trial)>;

bool PlayLong(host::PluginHost& player, const Texts& texts) {
    return player.Play(texts.longFile) == 0 && player.PumpUntil([] { return host::OutputSnapshot().written > 0; }, 5000);
}

bool OutputFull() {
    const host::OutputState output = host::OutputSnapshot();
    return output.capacity - Buffered(output) < CHUNK_BYTES;
}

void MeasureStop(host::PluginHost& player, const char* state, const StateSetup& setup, int trials) {
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        if (!setup(player, trial)) Fail(std::string("could not reach the state: ") + state);
        samples.push_back(TimeMs([&] {
            if (player.Playing())
                player.Stop();
            else
                player.Module()->Stop();  // the player may call Stop with nothing playing
        }));
    }
    const double p50 = bench::Percentile(samples, 0.5), p99 = bench::Percentile(samples, 0.99);
    AddRow(std::string("Stop latency, ") + state + " (p50 / p99)", Format("%.2f / %.2f ms", p50, p99), "p99 <= 50 ms",
           p99 <= 50);
}

void MeasureStopLatencies(const Texts& texts, int trials) {
    std::printf("Stop latency (%d trials each, output draining in real time, 2 s buffer)\n", trials);
    auto player = StartPlayer(host::DrainMode::Clock);
    MeasureStop(*player, "idle", [](host::PluginHost&, int) { return true; }, trials);
    MeasureStop(*player, "playing",
                [&](host::PluginHost& p, int trial) {
                    if (!PlayLong(p, texts)) return false;
                    p.PumpMessages(5 + trial % 25);
                    return p.Playing();
                },
                trials);
    MeasureStop(*player, "paused",
                [&](host::PluginHost& p, int trial) {
                    if (!PlayLong(p, texts)) return false;
                    p.PumpMessages(5 + trial % 25);
                    p.Pause();
                    return true;
                },
                trials);
    // The engine's thread is inside Write, waiting for room the paused output will not make; the
    // stop lands anywhere in the plug-in's 20 ms wait.
    MeasureStop(*player, "paused, engine blocked in Write",
                [&](host::PluginHost& p, int trial) {
                    if (p.Play(texts.longFile) != 0) return false;
                    p.Pause();
                    if (!p.PumpUntil(OutputFull, 5000)) return false;
                    p.PumpMessages(trial % 21);
                    return host::OutputSnapshot().paused;
                },
                trials);
    // All speech delivered; the event thread polls the output until it has played it out.
    MeasureStop(*player, "draining at end of file",
                [&](host::PluginHost& p, int trial) {
                    const int endings = p.EndOfFileCount();
                    if (p.Play(texts.drainFile) != 0 || !engine::WaitUntilIdle(5000)) return false;
                    p.PumpMessages(2 + trial % 10);
                    return Buffered(host::OutputSnapshot()) > 0 && p.EndOfFileCount() == endings;
                },
                trials);
}

// ---- End of file -------------------------------------------------------------------------------

void MeasureEndOfFile(const Texts& texts, int trials) {
    std::printf("End of file after the output stops playing (%d trials)\n", trials);
    auto player = StartPlayer(host::DrainMode::Clock);
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        const int endings = player->EndOfFileCount();
        if (player->Play(texts.eofFile) != 0 || !engine::WaitUntilIdle(5000)) Fail("the end-of-file text did not play");
        // Everything is written: the moment the device runs dry is fixed now.
        const long long playsOutAt = host::OutputSnapshot().playsOutAtUs;
        long long arrivedAt = 0;
        const bool ended = player->PumpUntil(
            [&] {
                if (player->EndOfFileCount() == endings) return false;
                arrivedAt = host::HostClockUs();
                return true;
            },
            5000);
        if (!ended) Fail("no end of file");
        samples.push_back((arrivedAt - playsOutAt) / 1000.0);
        player->Stop();
    }
    const double median = bench::Percentile(samples, 0.5);
    AddRow("End of file after the output stops (median, p99)",
           Format("%.2f ms (p99 %.2f ms)", median, bench::Percentile(samples, 0.99)), "median <= 15 ms", median <= 15);
}

// ---- Play with three voices ----------------------------------------------------------------------

void MeasurePlay(const Texts& texts, int trials) {
    std::printf("Play with three voices installed, the third one stored (%d trials)\n", trials);
    const std::vector<engine::VoiceInfo> voices = engine::DefaultVoices();
    if (voices.size() != 3) Fail("the engine does not install three voices");
    const std::string ini = std::string(STEREO_48K) + "VoiceID=" + Narrow(voices[2].id) + "\r\n";
    auto player = StartPlayer(host::DrainMode::Instant, ini);
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        int result = -1;
        samples.push_back(TimeMs([&] { result = player->Play(texts.shortFile); }));
        if (result != 0 || engine::CurrentVoiceId() != voices[2].id) Fail("Play did not speak with the third voice");
        engine::WaitUntilIdle(5000);
        player->Stop();
    }
    const double worst = bench::Percentile(samples, 1.0);
    AddRow("Play blocks the player's thread (p50 / max)",
           Format("%.2f / %.2f ms", bench::Percentile(samples, 0.5), worst), "max <= 20 ms", worst <= 20);
}

// ---- A long UTF-8 file ----------------------------------------------------------------------------

// A 10 MB file of UTF-8 without a mark, in lines: every byte must be read to know it is UTF-8, and the voice is
// given its decoded text. Play must not wait for that; first sound is when the output gets the voice's
// first sound.
void MeasureUtf8File(const Texts& texts, int trials) {
    std::printf("A 10 MB UTF-8 file without a mark (%d trials)\n", trials);
    const std::string line = "Caf\xC3\xA9 \xE2\x80\x9Cnoir\xE2\x80\x9D, s'il vous pla\xC3\xAEt. Et un croissant.\r\n";
    std::string bytes;
    bytes.reserve((10u << 20) + line.size());
    while (bytes.size() < (10u << 20)) bytes += line;
    const std::string path = texts.folder + "\\utf8-10mb.txt";
    if (!host::WriteWholeFile(path, bytes)) Fail("cannot write " + path);
    auto player = StartPlayer(host::DrainMode::Instant);
    bench::InstallAllocationCounter(player->Library());  // for the bytes it reads
    std::vector<double> play, firstSound, engineSpeak, readRatio;
    ScopedComPtr<ISpVoice> voice;
    if (FAILED(CoCreateInstance(engine::VoiceClassId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ISpVoice), voice.ReceiveVoid())))
        Fail("no engine voice of the benchmark's own");
    for (int trial = 0; trial < trials; ++trial) {
        const unsigned long long readBefore = bench::BytesRead();
        const double start = bench::NowMs();
        int result = -1;
        play.push_back(TimeMs([&] { result = player->Play(path); }));
        if (result != 0) Fail("Play of the UTF-8 file failed");
        // The output counts what it was given since it was opened.
        if (!player->PumpUntil([&] { return host::OutputSnapshot().written > 0; }, 20000))
            Fail("the UTF-8 file was not heard");
        firstSound.push_back(bench::NowMs() - start);
        // The whole file is read once the reader has stopped reading: no byte more for 300 ms.
        unsigned long long read = 0;
        for (unsigned long long last = ~0ull; (read = bench::BytesRead() - readBefore) != last;) {
            last = read;
            player->PumpMessages(300);
        }
        readRatio.push_back(static_cast<double>(read) / static_cast<double>(bytes.size()));
        // The engine stand-in parses a text inside Speak before it returns (a real voice queues it and
        // returns): that part of the first sound is the engine's, timed again on a voice of the
        // benchmark's own with the first piece the plug-in gave.
        std::wstring firstPiece;
        for (const std::wstring& call : engine::CallLog()) {
            const size_t flags = call.rfind(L", 17)");
            if (call.compare(0, 6, L"Speak(") != 0 || flags == std::wstring::npos) continue;
            firstPiece = call.substr(6, flags - 6);
            break;
        }
        player->Stop();
        engineSpeak.push_back(TimeMs([&] { voice->Speak(firstPiece.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr); }));
        voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
        engine::Reset();  // the stand-in's call log keeps each Speak's text
        engine::SetRecordDeliveredPcm(false);
    }
    bench::RemoveAllocationCounter();
    const double playMax = bench::Percentile(play, 1.0), soundP50 = bench::Percentile(firstSound, 0.5);
    const double engineP50 = bench::Percentile(engineSpeak, 0.5), ownP50 = soundP50 - engineP50;
    const double readMax = bench::Percentile(readRatio, 1.0);
    AddRow("Play of a 10 MB UTF-8 file (p50 / max)", Format("%.2f / %.2f ms", bench::Percentile(play, 0.5), playMax),
           "max <= 20 ms", playMax <= 20);
    AddRow("First sound of a 10 MB UTF-8 file (p50 / max)",
           Format("%.1f / %.1f ms", soundP50, bench::Percentile(firstSound, 1.0)), "p50 <= 100 ms", soundP50 <= 100);
    AddRow("First sound of a 10 MB UTF-8 file, the plug-in's share (p50)",
           Format("%.1f ms (the engine stand-in's Speak of the first piece %.1f ms)", ownP50, engineP50),
           "<= 20 ms", ownP50 <= 20);
    AddRow("Bytes read per Play of a 10 MB UTF-8 file, times its size (max)", Format("%.3f", readMax), "<= 1.05",
           readMax <= 1.05);
}

// ---- E-books -------------------------------------------------------------------------------------

// A 5 MB EPUB as shops sell them: 60 deflated chapters of varied prose (about 4 MB of XHTML) and a
// stored cover picture that does not compress.
struct BenchBook {
    std::string bytes;
    size_t markupBytes = 0;
};

BenchBook MakeBenchBook() {
    static const char* WORDS[] = {"keeper", "lighthouse", "evening", "climbed", "steps", "wound", "clockwork",
                                  "trimmed", "wick", "beam", "across", "grey", "water", "ships", "passed", "dark",
                                  "enough", "storm", "harbour", "gulls", "lantern", "quiet", "tide", "rocks"};
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    BenchBook book;
    std::vector<std::string> chapters;
    for (int c = 1; c <= 60; ++c) {
        std::string chapter = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html xmlns=\"http://www.w3.org/1999/xhtml\">"
                              "<head><title>Chapter</title></head><body><h1>Chapter " + std::to_string(c) + "</h1>";
        while (chapter.size() < 70000) {
            chapter += "<p>";
            for (int sentence = next() % 4 + 2; sentence > 0; --sentence) {
                for (int word = next() % 12 + 4; word > 0; --word) chapter += std::string(WORDS[next() % 24]) + " ";
                chapter.back() = '.';
                chapter += " ";
            }
            chapter += "</p>\n";
        }
        chapter += "</body></html>";
        book.markupBytes += chapter.size();
        chapters.push_back(std::move(chapter));
    }
    std::vector<books::ZipItem> items = books::EpubItems("Bench Book", "Txt Bench", chapters);
    std::string cover(4u << 20, '\0');
    for (char& byte : cover) byte = static_cast<char>(next());
    items.push_back({"OEBPS/cover.jpg", cover});
    book.bytes = books::Zip(items);
    return book;
}

void MeasureBooks(const Texts& texts, int trials) {
    std::printf("A 5 MB EPUB (%d trials)\n", trials);
    BenchBook book = MakeBenchBook();
    // Two copies played in turn: the plug-in keeps the last book's text, and each Play must read anew.
    const std::string paths[2] = {texts.folder + "\\bench-a.epub", texts.folder + "\\bench-b.epub"};
    for (const std::string& path : paths)
        if (!host::WriteWholeFile(path, book.bytes)) Fail("cannot write " + path);
    const double fileMb = book.bytes.size() / 1048576.0;

    std::vector<double> extract;
    DocumentText text;
    for (int trial = 0; trial < trials; ++trial)
        extract.push_back(TimeMs([&] {
            if (!ExtractDocument(paths[0].c_str(), text)) Fail("the book was not read: " + text.error);
        }));
    const double extractP50 = bench::Percentile(extract, 0.5), mbPerS = book.markupBytes / 1048576.0 / (extractP50 / 1000);

    auto player = StartPlayer(host::DrainMode::Instant, std::string(STEREO_48K) + "Documents=1\r\n");
    std::vector<double> play, firstSound, title;
    for (int trial = 0; trial < trials; ++trial) {
        const std::string& path = paths[trial % 2];
        char name[MAX_PATH] = "";
        title.push_back(TimeMs([&] { player->Module()->GetFileInfo(const_cast<char*>(path.c_str()), name, nullptr); }));
        if (std::strcmp(name, "Txt Bench - Bench Book") != 0) Fail(std::string("the book's title was ") + name);
        const long long before = host::OutputSnapshot().written;
        const double start = bench::NowMs();
        // The output is watched from a thread of its own: the window filling with the book on this
        // thread would otherwise delay seeing the first sound, which the player hears at once.
        std::atomic<double> heardAt{0};
        std::thread watcher([&] {
            while (host::OutputSnapshot().written <= before && bench::NowMs() - start < 20000) Sleep(1);
            heardAt = bench::NowMs();
        });
        int result = -1;
        play.push_back(TimeMs([&] { result = player->Play(path); }));
        const bool heard = player->PumpUntil([&] { return heardAt > 0; }, 30000);
        watcher.join();
        if (result != 0) Fail("Play of the EPUB failed");
        if (!heard || host::OutputSnapshot().written <= before) Fail("the EPUB was not heard");
        firstSound.push_back(heardAt - start);
        player->Stop();
        engine::Reset();
        engine::SetRecordDeliveredPcm(false);
    }
    const double playMax = bench::Percentile(play, 1.0), titleMax = bench::Percentile(title, 1.0);
    const double soundP50 = bench::Percentile(firstSound, 0.5);
    AddRow("EPUB text extracted (p50)",
           Format("%.1f MB/s (%.1f MB of XHTML in %.1f ms, %.1f MB file)", mbPerS, book.markupBytes / 1048576.0,
                  extractP50, fileMb),
           ">= 20 MB/s", mbPerS >= 20);
    AddRow("Play of a 5 MB EPUB (p50 / max)", Format("%.2f / %.2f ms", bench::Percentile(play, 0.5), playMax),
           "max <= 20 ms", playMax <= 20);
    // The voice is given the book's first sentences alone, so the engine stand-in's share is small.
    AddRow("First sound of a 5 MB EPUB (p50 / max)",
           Format("%.1f / %.1f ms", soundP50, bench::Percentile(firstSound, 1.0)), "p50 <= 150 ms", soundP50 <= 150);
    AddRow("GetFileInfo of a 5 MB EPUB, its title (p50 / max)",
           Format("%.2f / %.2f ms", bench::Percentile(title, 0.5), titleMax), "max <= 20 ms", titleMax <= 20);
}

// ---- Reading from a place -----------------------------------------------------------------------

// A book of 4 MB (about the longest novels): Play of it remembered at the place it was stopped, and
// "Read from the beginning" from the window's menu, which gives the voice the most text that "Read from
// here" can. The menu runs its own loop: a thread timer picks the item and notes when.
double MenuChosenAtMs = 0;

BOOL CALLBACK MatchPopupMenu(HWND window, LPARAM found) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, "#32768") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK PickReadFromTheBeginning(HWND, UINT, UINT_PTR, DWORD) {
    HWND menu = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), MatchPopupMenu, reinterpret_cast<LPARAM>(&menu));
    if (!menu || MenuChosenAtMs > 0) return;
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    MenuChosenAtMs = bench::NowMs();
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
}

// A 4 MB book of numbered sentences in the texts' folder; its path.
std::string WriteLongBook(const Texts& texts, const char* name) {
    std::string book;
    for (int n = 0; book.size() < (4u << 20); ++n) book += "Sentence " + std::to_string(n) + " of the long book is read here.\r\n";
    const std::string path = texts.folder + "\\" + name;
    if (!host::WriteWholeFile(path, book)) Fail("cannot write " + path);
    return path;
}

void MeasureReadingFromPlaces(const Texts& texts, int trials) {
    std::printf("A 4 MB book continued and read from its beginning (%d trials)\n", trials);
    const std::string path = WriteLongBook(texts, "book-4mb.txt");
    // A device that plays in real time holds at most its buffer: once more than that was played, the
    // output opened again holds less than before, and its first sound shows.
    auto player = StartPlayer(host::DrainMode::Clock, std::string(STEREO_48K) + "ResumeFiles=1\r\n");
    HWND window = FindTextInfoWindow();
    if (!window) Fail("no Text info window");
    player->Module()->InfoBox(const_cast<char*>(path.c_str()), player->MainWindow());  // shown, as to a reader
    SetCursorPos(0, 0);  // the pointer over the menu would choose its own item
    std::vector<double> play, playSound, readSound;
    for (int trial = 0; trial <= trials; ++trial) {
        const double start = bench::NowMs();
        if (player->Play(path) != 0) Fail("Play of the book failed");
        const double playMs = bench::NowMs() - start;
        // The output counts what it was given since it was opened.
        if (!player->PumpUntil([&] { return host::OutputSnapshot().written > 0; }, 20000)) Fail("the book was not heard");
        if (trial > 0) play.push_back(playMs), playSound.push_back(bench::NowMs() - start);  // the first starts at the top
        player->PumpMessages(1500);  // the window has read the whole book
        const long long before = host::OutputSnapshot().written;
        MenuChosenAtMs = 0;
        const UINT_PTR timer = SetTimer(nullptr, 0, 20, PickReadFromTheBeginning);
        PostMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_INFO_TEXT)), -1);
        const bool heard = player->PumpUntil(
            [&] {
                const long long written = host::OutputSnapshot().written;
                return MenuChosenAtMs > 0 && written > 0 && written < before;
            },
            20000);
        KillTimer(nullptr, timer);
        if (!heard) Fail("Read from the beginning was not heard");
        readSound.push_back(bench::NowMs() - MenuChosenAtMs);
        player->PumpMessages(100);  // a place is heard, to continue from
        player->Stop();
        engine::Reset();  // the stand-in's call log keeps each Speak's whole text
        engine::SetRecordDeliveredPcm(false);
    }
    const double playMax = bench::Percentile(play, 1.0), readMax = bench::Percentile(readSound, 1.0);
    const double playSoundP50 = bench::Percentile(playSound, 0.5);
    AddRow("Play of a 4 MB book from its remembered place (p50 / max)",
           Format("%.2f / %.2f ms", bench::Percentile(play, 0.5), playMax), "max <= 20 ms", playMax <= 20);
    AddRow("First sound of a 4 MB book continued from its place (p50 / max)",
           Format("%.1f / %.1f ms", playSoundP50, bench::Percentile(playSound, 1.0)), "p50 <= 150 ms",
           playSoundP50 <= 150);
    // The engine stand-in's own parse of the whole text inside Speak is included.
    AddRow("First sound after Read from here, 4 MB book (p50 / max)",
           Format("%.1f / %.1f ms", bench::Percentile(readSound, 0.5), readMax), "max <= 150 ms", readMax <= 150);
}

// ---- Seeking -------------------------------------------------------------------------------------

// A 4 MB book with the seek bar on: SetOutputTime returns at once whatever the file's size, and the
// sound of the sentence sought follows. Each seek goes further than anything written so far, so the
// output's count, set to the time sought by its Flush, grows only with the new sound.
void MeasureSeeking(const Texts& texts, int trials) {
    std::printf("Seeking in a 4 MB book (%d trials)\n", trials);
    const std::string path = WriteLongBook(texts, "book-seek.txt");
    auto player = StartPlayer(host::DrainMode::Clock, std::string(STEREO_48K) + "Seekable=1\r\n");
    if (player->Play(path) != 0) Fail("Play of the book failed");
    if (!player->PumpUntil([&] { return host::OutputSnapshot().written > 0; }, 20000)) Fail("the book was not heard");
    // Some of it heard, for the pace.
    if (!player->PumpUntil([&] { return player->Module()->GetOutputTime() >= 1500; }, 20000)) Fail("the book did not play on");
    std::vector<double> calls, sounds;
    for (int trial = 0; trial < trials; ++trial) {
        const int target = 60000 * (trial + 1);
        const long long targetBytes = static_cast<long long>(target) * RATE / 1000 * FRAME_BYTES;
        const double start = bench::NowMs();
        calls.push_back(TimeMs([&] { player->Module()->SetOutputTime(target); }));
        if (!player->PumpUntil([&] { return host::OutputSnapshot().written > targetBytes; }, 20000))
            Fail("no sound after a seek");
        sounds.push_back(bench::NowMs() - start);
        player->PumpMessages(200);
    }
    player->Stop();
    const double callMax = bench::Percentile(calls, 1.0), soundP50 = bench::Percentile(sounds, 0.5);
    AddRow("SetOutputTime in a 4 MB book (p50 / max)", Format("%.3f / %.3f ms", bench::Percentile(calls, 0.5), callMax),
           "max <= 20 ms", callMax <= 20);
    AddRow("First sound after a seek, 4 MB book (p50 / max)",
           Format("%.1f / %.1f ms", soundP50, bench::Percentile(sounds, 1.0)), "p50 <= 150 ms", soundP50 <= 150);
}

std::string IniWithVoice(const std::wstring& voiceId);

// The estimated length of ten minutes of English prose with espeak-ng's default voice, against the
// length it turns out to have: before anything is heard, and after 30 s heard.
void MeasureLengthEstimate(const Texts& texts) {
    std::printf("The length of ten minutes of prose, estimated\n");
    const std::string paragraph =
        "The river ran slowly past the old mill, and the miller watched it from his window every morning. "
        "Nobody in the village could remember when the wheel had last turned. "
        "Children said that a heron lived under the bridge and guarded a box of silver coins. "
        "The miller only smiled when he heard the story, and went on with his work.\r\n\r\n";
    std::string prose;
    while (prose.size() < 9000) prose += paragraph;
    const std::string path = texts.folder + "\\prose-10min.txt";
    if (!host::WriteWholeFile(path, prose)) Fail("cannot write " + path);
    auto player = StartPlayer(host::DrainMode::Instant, IniWithVoice(engine::EspeakVoiceId) + "Seekable=1\r\n", true);
    if (player->Play(path) != 0) Fail("Play failed with the espeak-ng voice");
    const int before = player->Module()->GetLength();
    if (!player->PumpUntil([&] { return player->Module()->GetOutputTime() >= 30000; }, 60000)) Fail("30 s were not heard");
    const int after30 = player->Module()->GetLength();
    if (!player->WaitForEndOfFile(300000)) Fail("the prose was not heard to its end");
    const double truth = player->Module()->GetOutputTime();
    player->Stop();
    const double beforeRatio = before / truth, afterRatio = after30 / truth;
    AddRow("Length estimate before anything is heard, 10 min of prose, espeak-ng (estimate / true)",
           Format("%.3f (%.0f of %.0f ms)", beforeRatio, before, truth), "within 30 %",
           beforeRatio >= 0.7 && beforeRatio <= 1.3);
    AddRow("Length estimate after 30 s heard (estimate / true)", Format("%.3f (%.0f ms)", afterRatio, after30),
           "within 10 %", afterRatio >= 0.9 && afterRatio <= 1.1);
}

// ---- Quit --------------------------------------------------------------------------------------

// Every wait of the event thread wakes on the quit event: Quit never waits out the thread's grace.
void AddQuitRow(const char* figure, const std::vector<double>& samples) {
    const double worst = bench::Percentile(samples, 1.0);
    AddRow(figure, Format("%.2f / %.2f ms", bench::Percentile(samples, 0.5), worst), "max <= 20 ms", worst <= 20);
}

void MeasureQuit(const Texts& texts, int trials) {
    std::printf("Quit (%d players each)\n", trials);
    std::vector<double> idle, drainingStopped, drainingUnstopped;
    for (int trial = 0; trial < trials; ++trial) {
        auto player = StartPlayer(host::DrainMode::Clock);
        if (player->Play(texts.shortFile) != 0 || !player->WaitForEndOfFile(5000)) Fail("the short text did not play");
        player->Stop();
        idle.push_back(TimeMs([&] { player->Quit(); }));
    }
    for (int trial = 0; trial < 2 * trials; ++trial) {
        auto player = StartPlayer(host::DrainMode::Clock);
        if (player->Play(texts.drainFile) != 0 || !engine::WaitUntilIdle(5000)) Fail("the drain text did not play");
        player->PumpMessages(5);
        if (Buffered(host::OutputSnapshot()) <= 0) Fail("the output drained too soon");
        if (trial % 2 == 0)
            drainingStopped.push_back(TimeMs([&] { player->Quit(); }));  // Stop, then Quit, as the player does
        else
            drainingUnstopped.push_back(TimeMs([&] { player->Module()->Quit(); }));
    }
    // The voice waits inside Write for room the output will not make; the player closes without Stop.
    std::vector<double> pausedFull, neverDrains;
    for (int trial = 0; trial < 2 * trials; ++trial) {
        const bool paused = trial % 2 == 0;
        auto player = StartPlayer(paused ? host::DrainMode::Clock : host::DrainMode::Stalled);
        if (player->Play(texts.longFile) != 0) Fail("the long text did not play");
        if (paused) player->Pause();
        if (!player->PumpUntil(OutputFull, 5000)) Fail("the output did not fill");
        player->PumpMessages(trial % 21);
        (paused ? pausedFull : neverDrains).push_back(TimeMs([&] { player->Module()->Quit(); }));
    }
    AddQuitRow("Quit, idle (p50 / max)", idle);
    AddQuitRow("Quit while paused and full, no Stop first (p50 / max)", pausedFull);
    AddQuitRow("Quit with a device that never plays, no Stop first (p50 / max)", neverDrains);
    AddQuitRow("Quit while draining, after Stop (p50 / max)", drainingStopped);
    AddQuitRow("Quit while draining, no Stop first (p50 / max)", drainingUnstopped);
}

// ---- The Text info window with long texts --------------------------------------------------------

// The player's message loop, timing every message it dispatches: the longest is the longest the
// player's thread was held. Runs until done() holds or timeoutMs pass; returns whether it held.
bool PumpTimingStalls(const std::function<bool()>& done, DWORD timeoutMs, double* longestMs) {
    const double end = bench::NowMs() + timeoutMs;
    while (!done()) {
        if (bench::NowMs() > end) return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            const double start = bench::NowMs();
            TranslateMessage(&message);
            DispatchMessageA(&message);
            *longestMs = std::max(*longestMs, bench::NowMs() - start);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

long TextControlLength() {
    HWND window = FindTextInfoWindow();
    HWND control = window ? GetDlgItem(window, 1000) : nullptr;
    GETTEXTLENGTHEX length = {GTL_NUMCHARS, 1200};
    return control ? static_cast<long>(SendMessageA(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0)) : 0;
}

struct LongTextFigures {
    double playMs = 0, engineSpeakMs = 0, loadMs = 0, firstShownMs = 0, wholeMs = 0, fillStallMs = 0;
    double shortPlayMs = 0, afterStallMs = 0;
    double megabytes = 0;
};

// The engine stand-in reads and parses the whole file inside Speak, before it returns: that part of
// Play is the engine's. Timed on a voice of the benchmark's own, with its sound going nowhere.
double TimeEngineSpeak(const std::string& path) {
    ScopedComPtr<ISpVoice> voice;
    if (FAILED(CoCreateInstance(engine::VoiceClassId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ISpVoice), voice.ReceiveVoid())))
        Fail("no engine voice of the benchmark's own");
    const std::wstring widePath = Wide(path);
    HRESULT spoken = E_FAIL;
    const double ms = TimeMs([&] { spoken = voice->Speak(widePath.c_str(), SPF_ASYNC | SPF_IS_FILENAME | SPF_IS_NOT_XML, nullptr); });
    if (FAILED(spoken)) Fail("the engine's Speak of a long text failed");
    voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    return ms;
}

// Lines of 62 characters and a line break, which the control keeps as one character.
LongTextFigures MeasureLongText(host::PluginHost& player, const std::string& folder, size_t bytes,
                                const std::string& shortFile) {
    const std::string line = "All work and no play makes a long text file for the window.\r\n";
    std::string text;
    text.reserve(bytes);
    while (text.size() + line.size() <= bytes) text += line;
    const std::string path = folder + "\\long-" + std::to_string(bytes) + ".txt";
    if (!host::WriteWholeFile(path, text)) Fail("cannot write " + path);
    const size_t lines = text.size() / line.size();
    const size_t shownLines = std::min(lines, MAX_SHOWN_TEXT_UNITS / line.size());
    // Past the limit a note of what is not shown ends the text: at least that much more.
    const long whole = static_cast<long>(shownLines * (line.size() - 1));

    LongTextFigures figures;
    figures.megabytes = text.size() / 1048576.0;
    const double start = bench::NowMs();
    int result = -1;
    figures.playMs = TimeMs([&] { result = player.Play(path); });
    if (result != 0) Fail("Play of a long text failed");
    const double played = bench::NowMs();

    bool firstSeen = false;
    const bool filled = PumpTimingStalls(
        [&] {
            const long shown = TextControlLength();
            if (!firstSeen && shown > 0) {
                firstSeen = true;
                figures.firstShownMs = bench::NowMs() - played;
            }
            return shown >= whole;
        },
        600000, &figures.fillStallMs);
    if (!filled) Fail("the long text did not get into the window");
    figures.wholeMs = bench::NowMs() - start;
    player.Stop();
    figures.engineSpeakMs = TimeEngineSpeak(path);
    // Play loads the text into the window as InfoBox does: a copy under another name is loaded afresh.
    const std::string copy = path + ".again.txt";
    if (!CopyFileA(path.c_str(), copy.c_str(), FALSE)) Fail("cannot copy " + path);
    figures.loadMs = TimeMs([&] { player.Module()->InfoBox(const_cast<char*>(copy.c_str()), player.MainWindow()); });
    ShowWindow(FindTextInfoWindow(), SW_HIDE);
    PumpTimingStalls([] { return false; }, 200, &figures.afterStallMs);
    DeleteFileA(copy.c_str());

    figures.shortPlayMs = TimeMs([&] { result = player.Play(shortFile); });
    if (result != 0) Fail("Play of a short text after a long one failed");
    PumpTimingStalls([] { return false; }, 1500, &figures.afterStallMs);
    player.Stop();
    DeleteFileA(path.c_str());
    return figures;
}

void MeasureLongTexts(const Texts& texts) {
    std::printf("The Text info window with texts of 10 KB, 1 MB, 10 MB and 50 MB\n");
    auto player = StartPlayer(host::DrainMode::Clock);
    std::vector<LongTextFigures> all;
    for (size_t bytes : {size_t{10} << 10, size_t{1} << 20, size_t{10} << 20, size_t{50} << 20})
        all.push_back(MeasureLongText(*player, texts.folder, bytes, texts.shortFile));
    const auto row = [&](const char* figure, double LongTextFigures::*field, const char* unit, const char* aim,
                         double limit) {
        std::string measured;
        double worst = 0;
        for (const LongTextFigures& figures : all) {
            measured += (measured.empty() ? "" : " / ") + Format("%.1f", figures.*field);
            worst = std::max(worst, figures.*field);
        }
        AddRow(figure, measured + " " + unit, aim, worst <= limit);
    };
    row("Text info: Play of the long text (10 KB / 1 / 10 / 50 MB)", &LongTextFigures::playMs, "ms", "-", 1e9);
    row("  the engine stand-in's Speak of it, alone", &LongTextFigures::engineSpeakMs, "ms", "-", 1e9);
    row("  the window's share: loading it (InfoBox)", &LongTextFigures::loadMs, "ms", "max <= 20 ms", 20);
    row("Text info: Play of a short text after it", &LongTextFigures::shortPlayMs, "ms", "max <= 20 ms", 20);
    row("Text info: start of the text shown, from Play's return", &LongTextFigures::firstShownMs, "ms", "max <= 100 ms",
        100);
    row("Text info: longest stall of the player's thread while it fills", &LongTextFigures::fillStallMs, "ms",
        "max <= 50 ms", 50);
    row("Text info: longest stall after the short text's Play", &LongTextFigures::afterStallMs, "ms", "-", 1e9);
    std::string measured;
    double worstPerMb = 0;
    for (const LongTextFigures& figures : all) {
        measured += (measured.empty() ? "" : " / ") + Format("%.1f", figures.wholeMs / 1000.0);
        // The window shows at most MAX_SHOWN_TEXT_UNITS: the rate is of what it shows, from a megabyte on
        // (a short text is in after a tick or two, whatever its size).
        const double shownMb = std::min(figures.megabytes, MAX_SHOWN_TEXT_UNITS / 1048576.0);
        if (shownMb >= 1) worstPerMb = std::max(worstPerMb, figures.wholeMs / 1000.0 / shownMb);
    }
    AddRow("Text info: whole text in the window", measured + Format(" s (at most %.2f s per MB shown)", worstPerMb),
           "<= 3 s per MB", worstPerMb <= 3);
}

// ---- The Text info window and the text's shape (`shapes`) ----------------------------------------

std::string OneLineProse(size_t bytes) {
    std::string prose;
    prose.reserve(bytes + 64);
    while (prose.size() < bytes) prose += "All work and no play makes one very long line of text. ";
    prose.resize(bytes);
    return prose;
}

const std::string LINE = "All work and no play makes a long text file for the window.\r\n";

std::string TextInLines(size_t bytes) {
    const std::string& line = LINE;
    std::string text;
    text.reserve(bytes);
    while (text.size() + line.size() <= bytes) text += line;
    return text;
}

// Plays a file and runs the player's loop until the window holds at least `characters`: the longest
// message meanwhile, and how long it took.
struct FillFigures {
    double stallMs = 0, wholeMs = 0;
};
FillFigures PlayUntilShown(host::PluginHost& player, const std::string& path, long characters) {
    FillFigures figures;
    const double start = bench::NowMs();
    if (player.Play(path) != 0) Fail("Play of " + path + " failed");
    double lastReport = start;
    if (!PumpTimingStalls([&] {
            const long shown = TextControlLength();
            if (getenv("TXTBENCH_DEBUG") && bench::NowMs() - lastReport > 5000) {
                lastReport = bench::NowMs();
                std::printf("    %ld of %ld\n", shown, characters);
                std::fflush(stdout);
            }
            return shown >= characters;
        }, 600000, &figures.stallMs))
        Fail("the text of " + path + " did not get into the window");
    figures.wholeMs = bench::NowMs() - start;
    player.Stop();
    return figures;
}

// The longest message from the Play of a short text that replaces the one shown, and for 1.5 s after.
double ReplacingStallMs(host::PluginHost& player, const std::string& shortFile) {
    double stall = TimeMs([&] {
        if (player.Play(shortFile) != 0) Fail("Play of a short text failed");
    });
    PumpTimingStalls([] { return false; }, 1500, &stall);
    player.Stop();
    return stall;
}

std::string WriteText(const std::string& folder, const char* name, const std::string& text) {
    const std::string path = folder + "\\" + name;
    if (!host::WriteWholeFile(path, text)) Fail("cannot write " + path);
    return path;
}

// Past the limit, a note of what is not shown follows the text: the window holds at least this much
// of a text on one line, and of one in lines (each line end one character).
long ShownWhole(size_t characters) {
    return static_cast<long>(std::min(characters, MAX_SHOWN_TEXT_UNITS) + (characters > MAX_SHOWN_TEXT_UNITS ? 20 : 0));
}
long ShownInLines(size_t bytes) {
    return static_cast<long>(std::min(bytes / LINE.size(), MAX_SHOWN_TEXT_UNITS / LINE.size()) * (LINE.size() - 1));
}

void AddFillRows(const std::string& name, const FillFigures& figures, double megabytes) {
    AddRow("Text info, " + name + ": longest message while it fills", Format("%.1f ms", figures.stallMs), "max <= 50 ms",
           figures.stallMs <= 50);
    const double perMb = figures.wholeMs / 1000.0 / megabytes;
    AddRow("Text info, " + name + ": whole text in the window", Format("%.2f s (%.2f s per MB)", figures.wholeMs / 1000.0, perMb),
           "<= 3 s per MB", perMb <= 3);
}

// Texts on one line (machine-written files, XML), replacing a long text, and Quit after one.
void MeasureTextShapes(const Texts& texts) {
    std::printf("The Text info window with texts of every shape\n");
    std::string xml = "<speak>";
    while (xml.size() < (256u << 10) - 8) xml += "<s>A sentence <emph>of</emph> machine-written markup.</s>";
    xml.resize((256u << 10) - 8);
    xml += "</speak>";
    // The 50 MB text first: after the controls of the others, this 32-bit process may lack the room
    // for its text in one block.
    {
        auto player = StartPlayer(host::DrainMode::Clock);
        const std::string fifty = WriteText(texts.folder, "fifty.txt", TextInLines(50u << 20));
        PlayUntilShown(*player, fifty, ShownInLines(50u << 20));
        const double afterFifty = ReplacingStallMs(*player, texts.shortFile);
        AddRow("Text info: longest message at the Play that replaces a 50 MB text", Format("%.1f ms", afterFifty),
               "max <= 50 ms", afterFifty <= 50);
        DeleteFileA(fifty.c_str());
    }
    {
        auto player = StartPlayer(host::DrainMode::Clock);
        const std::string prose = OneLineProse(1u << 20);
        AddFillRows("1 MB on one line", PlayUntilShown(*player, WriteText(texts.folder, "one-line.txt", prose), ShownWhole(prose.size())), 1);
        AddFillRows("256 KB of one-line XML", PlayUntilShown(*player, WriteText(texts.folder, "one-line.xml", xml), ShownWhole(xml.size())), 0.25);

        const std::string tenOnOneLine = WriteText(texts.folder, "ten-one-line.txt", OneLineProse(10u << 20));
        const long long before = bench::MeasureProcess().committedPrivate;
        const FillFigures ten = PlayUntilShown(*player, tenOnOneLine, ShownWhole(10u << 20));
        const double addedMb = (bench::MeasureProcess().committedPrivate - before) / 1048576.0;
        AddFillRows("10 MB on one line", ten, MAX_SHOWN_TEXT_UNITS / 1048576.0);
        AddRow("Text info, 10 MB on one line: committed memory it adds (shown whole)", Format("%.0f MB", addedMb),
               "<= 200 MB", addedMb <= 200);
        const double afterTen = ReplacingStallMs(*player, texts.shortFile);
        AddRow("Text info: longest message at the Play that replaces a 10 MB text", Format("%.1f ms", afterTen),
               "max <= 50 ms", afterTen <= 50);

        DeleteFileA(tenOnOneLine.c_str());
    }
    auto player = StartPlayer(host::DrainMode::Clock);
    const std::string ten = WriteText(texts.folder, "ten.txt", TextInLines(10u << 20));
    PlayUntilShown(*player, ten, ShownInLines(10u << 20));
    const double quitMs = TimeMs([&] { player->Quit(); });
    AddRow("Quit after a 10 MB text shown whole", Format("%.1f ms", quitMs), "<= 20 ms", quitMs <= 20);
    DeleteFileA(ten.c_str());
}

// Quit while a 60 MB file is still being read for the window: the reader is told to stop.
void MeasureQuitAfterLongText(const Texts& texts) {
    std::printf("Quit after a 60 MB file\n");
    const std::string line = "All work and no play makes a long text file for the window.\r\n";
    std::string text;
    text.reserve(60u << 20);
    while (text.size() + line.size() <= (60u << 20)) text += line;
    const std::string path = texts.folder + "\\sixty.txt";
    if (!host::WriteWholeFile(path, text)) Fail("cannot write " + path);
    auto player = StartPlayer(host::DrainMode::Clock);
    if (player->Play(path) != 0) Fail("Play of the 60 MB text failed");
    double stall = 0;
    if (!PumpTimingStalls([] { return TextControlLength() > 0; }, 10000, &stall)) Fail("the 60 MB text's start never showed");
    player->Stop();
    const double ms = TimeMs([&] { player->Quit(); });
    AddRow("Quit after a 60 MB file, its text still being read", Format("%.1f ms", ms), "<= 100 ms", ms <= 100);
    DeleteFileA(path.c_str());
}

// ---- Play/Stop cycles --------------------------------------------------------------------------

// One figure of the process after cycles 10, 500 and 1000.
struct CycleFigures {
    long long at10, at500, at1000;
};

void MeasureCycles(const Texts& texts) {
    std::printf("1000 Play/Stop cycles\n");
    auto player = StartPlayer(host::DrainMode::Instant);
    bench::ProcessFigures after10, after500, after1000;
    for (int cycle = 1; cycle <= 1000; ++cycle) {
        if (player->Play(texts.shortFile) != 0) Fail("Play failed in the cycles");
        player->Stop();
        player->PumpMessages(0);
        // The engine stand-in's call log would grow with every cycle; it is not the plug-in's.
        engine::Reset();
        engine::SetRecordDeliveredPcm(false);
        if (cycle == 10) after10 = bench::MeasureProcess();
        if (cycle == 500) after500 = bench::MeasureProcess();
    }
    after1000 = bench::MeasureProcess();

    // Wine may leave PrivateUsage and the handle count at 0; then the address space walk and the
    // handle probe stand in, and the row says which source it used.
    const auto atEachMeasure = [&](long long bench::ProcessFigures::*figure) {
        return CycleFigures{after10.*figure, after500.*figure, after1000.*figure};
    };
    const bool reported = after10.privateBytes > 0;
    const CycleFigures memory = atEachMeasure(reported ? &bench::ProcessFigures::privateBytes
                                                       : &bench::ProcessFigures::committedPrivate);
    AddRow(std::string("Private bytes, cycle 1000 vs cycle 10 (") +
               (reported ? "PrivateUsage" : "committed private pages; PrivateUsage reads 0") + ")",
           Format("%+.1f KB (%.0f KB -> ", (memory.at1000 - memory.at10) / 1024.0, memory.at10 / 1024.0) +
               Format("%.0f KB; cycle 500 -> 1000: %+.1f KB)", memory.at1000 / 1024.0,
                      (memory.at1000 - memory.at500) / 1024.0),
           "no growth", memory.at1000 <= memory.at10);
    const bool counted = after10.handles > 0;
    const CycleFigures handles = atEachMeasure(counted ? &bench::ProcessFigures::handles
                                                       : &bench::ProcessFigures::probedHandles);
    AddRow(std::string("Handles, cycle 1000 vs cycle 10 (") +
               (counted ? "GetProcessHandleCount" : "probed; GetProcessHandleCount gives none") + ")",
           Format("%+.0f (%.0f -> %.0f", handles.at1000 - handles.at10, handles.at10, handles.at1000) +
               Format("; cycle 500 -> 1000: %+.0f)", handles.at1000 - handles.at500),
           "no growth", handles.at1000 <= handles.at10);
}

// ---- The espeak-ng voices ------------------------------------------------------------------------

// Prose of ordinary sentences, many of them: espeak-ng speaks it one sentence at a time.
std::string LongProse() {
    const char* paragraph =
        "The river ran slowly past the old mill, and the miller watched it from his window every morning. "
        "Nobody in the village could remember when the wheel had last turned. "
        "Children said that a heron lived under the bridge and guarded a box of silver coins. "
        "The miller only smiled when he heard the story, and went on with his work.\r\n\r\n";
    std::string text;
    for (int i = 0; i < 12; ++i) text += paragraph;
    return text;
}

std::string IniWithVoice(const std::wstring& voiceId) {
    return std::string(STEREO_48K) + "VoiceID=" + Narrow(voiceId) + "\r\n";
}

// From Play to the first sound the output is given, speaking long prose with the English voice:
// espeak-ng and sox run for the first sentence only.
void MeasureFirstSound(const std::string& prose, int trials) {
    auto player = StartPlayer(host::DrainMode::Instant, IniWithVoice(engine::EspeakVoiceId), true);
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        const double start = bench::NowMs();
        if (player->Play(prose) != 0) Fail("Play failed with the espeak-ng voice");
        while (host::OutputSnapshot().written == 0) {
            if (bench::NowMs() - start > 10000) Fail("no sound from the espeak-ng voice in 10 s");
            Sleep(1);
        }
        samples.push_back(bench::NowMs() - start);
        if (engine::CurrentVoiceId() != engine::EspeakVoiceId) Fail("the English espeak-ng voice did not speak");
        player->Stop();
    }
    const double p50 = bench::Percentile(samples, 0.5), worst = bench::Percentile(samples, 1.0);
    AddRow("espeak-ng first sound after Play, long prose (p50 / max)", Format("%.1f / %.1f ms", p50, worst),
           "max <= 100 ms", worst <= 100);
}

// From an asynchronous Speak of a voice with no output set (any SAPI program's default: the sound
// device, through waveOut) to its first word's sound handed to the device, with the English
// voice; the device is opened for each Speak and closed when the speech ends.
void MeasureDefaultOutput(const std::string& prose, int trials) {
    ScopedComPtr<IClassFactory> factory;
    ScopedComPtr<ISpVoice> voice;
    if (FAILED(engine::GetClassObject(engine::VoiceClassId, IID_IClassFactory, factory.ReceiveVoid())) ||
        FAILED(factory->CreateInstance(nullptr, __uuidof(ISpVoice), voice.ReceiveVoid())))
        Fail("cannot create a voice");
    const ULONGLONG words = (1ull << SPEI_WORD_BOUNDARY) | (1ull << SPEI_RESERVED1) | (1ull << SPEI_RESERVED2);
    voice->SetInterest(words, words);
    voice->SetNotifyWin32Event();
    const std::wstring text(prose.begin(), prose.end());
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        const double start = bench::NowMs();
        const HRESULT spoken = voice->Speak(text.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr);
        if (spoken == static_cast<HRESULT>(0x80045009)) {
            AddRow("First sound on the default output (p50 / max)", "no sound device here", "max <= 150 ms", -1);
            return;
        }
        if (FAILED(spoken)) Fail(Format("Speak to the default output failed: 0x%08lX", static_cast<unsigned long>(spoken)));
        SPEVENT event = {};
        ULONG fetched = 0;
        while (voice->GetEvents(1, &event, &fetched) != S_OK || fetched != 1) {
            if (bench::NowMs() - start > 10000) Fail("no sound on the default output in 10 s");
            voice->WaitForNotifyEvent(100);
        }
        samples.push_back(bench::NowMs() - start);
        voice->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
        while (voice->GetEvents(1, &event, &fetched) == S_OK && fetched == 1) {
        }
    }
    const double p50 = bench::Percentile(samples, 0.5), worst = bench::Percentile(samples, 1.0);
    AddRow("First sound on the default output (p50 / max)", Format("%.1f / %.1f ms", p50, worst), "max <= 150 ms",
           worst <= 150);
}

// One ordinary sentence through espeak-ng and sox, as the voice runs them for each sentence.
void MeasureSentence(int trials) {
    const std::string sentence = "Nobody in the village could remember when the wheel had last turned.";
    for (DWORD rate : {22050u, 48000u, 8000u}) {
        std::vector<double> samples;
        for (int trial = 0; trial < trials; ++trial) {
            std::vector<short> pcm;
            samples.push_back(TimeMs([&] {
                if (FAILED(engine::RunEspeak(sentence, false, "gmw/en-US", 175, rate, pcm)) || pcm.empty())
                    Fail("espeak-ng and sox did not speak the sentence");
            }));
        }
        AddRow(Format("One sentence through espeak-ng and sox at %.0f Hz (p50 / max)", rate),
               Format("%.1f / %.1f ms", bench::Percentile(samples, 0.5), bench::Percentile(samples, 1.0)), "-", -1);
    }
}

// Play walking every installed voice to the stored one, the last espeak-ng voice listed, for a
// one-sentence file as in the Play figure with three voices (a long text costs the plug-in more to
// show in its Text info window, whatever the voices).
void MeasurePlayWithEveryVoice(const std::string& sentence, int trials) {
    const std::vector<engine::VoiceInfo> voices = engine::EspeakVoices();
    const std::wstring last = voices.back().id;
    auto player = StartPlayer(host::DrainMode::Instant, IniWithVoice(last), true);
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        int result = -1;
        samples.push_back(TimeMs([&] { result = player->Play(sentence); }));
        if (result != 0 || engine::CurrentVoiceId() != last) Fail("Play did not speak with the last espeak-ng voice");
        player->Stop();
    }
    const double worst = bench::Percentile(samples, 1.0);
    AddRow(Format("Play blocks the player, %.0f voices installed (p50 / max)", voices.size() + 3.0),
           Format("%.2f / %.2f ms", bench::Percentile(samples, 0.5), worst), "max <= 20 ms", worst <= 20);
}

// The Voice page's list of voices, among the sheet's windows.
BOOL CALLBACK FindVoiceList(HWND window, LPARAM found) {
    if (GetDlgCtrlID(window) != IDC_VOICE_LIST) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The properties sheet of this process, once it shows. Its caption is read without a message to
// the player's thread, which runs the sheet.
BOOL CALLBACK FindOwnSheet(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    wchar_t caption[64] = {};
    InternalGetWindowText(window, caption, 64);
    if (process != GetCurrentProcessId() || lstrcmpA(name, "#32770") != 0 ||
        lstrcmpW(caption, L"Text Speech Plugin Properties") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

HWND ShownSheet() {
    HWND sheet = nullptr;
    EnumWindows(FindOwnSheet, reinterpret_cast<LPARAM>(&sheet));
    return sheet;
}

// From the player's call of Config to the Voice page listing every voice; the sheet is then
// cancelled from a thread of its own while Config runs its modal loop.
void MeasureVoicePage(int trials) {
    auto player = StartPlayer(host::DrainMode::Instant, IniWithVoice(engine::EspeakVoiceId), true);
    const LRESULT voices = static_cast<LRESULT>(engine::EspeakVoices().size() + 3);
    std::vector<double> samples;
    for (int trial = 0; trial < trials; ++trial) {
        const double start = bench::NowMs();
        double listed = -1;
        std::thread watcher([&] {
            HWND sheet = nullptr, list = nullptr;
            while (bench::NowMs() - start < 10000) {  // generous: only a hang takes this long
                if (!sheet) sheet = ShownSheet();
                if (sheet && !list) EnumChildWindows(sheet, FindVoiceList, reinterpret_cast<LPARAM>(&list));
                if (list && SendMessageA(list, LB_GETCOUNT, 0, 0) == voices) {
                    listed = bench::NowMs() - start;
                    break;
                }
                Sleep(1);
            }
            while (!sheet && bench::NowMs() - start < 20000) {
                Sleep(10);
                sheet = ShownSheet();
            }
            if (sheet) PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        });
        player->Module()->Config(player->MainWindow());
        watcher.join();
        if (listed < 0) Fail("the Voice page did not list every voice");
        samples.push_back(listed);
    }
    const double worst = bench::Percentile(samples, 1.0);
    AddRow(Format("Voice page lists all %.0f voices after Config (p50 / max)", static_cast<double>(voices)),
           Format("%.0f / %.0f ms", bench::Percentile(samples, 0.5), worst), "max < 1000 ms", worst < 1000);
}

void MeasureEspeakVoices(int trials) {
    if (!engine::EspeakAvailable()) {
        std::printf("The espeak-ng voices: espeak-ng or sox cannot be run here; skipped\n");
        return;
    }
    std::printf("The espeak-ng voices (%d trials each)\n", trials);
    std::fflush(stdout);
    const std::string folder = host::CreateUniqueTempFolder("txtbench_prose_");
    const std::string prose = folder + "\\prose.txt", sentence = folder + "\\sentence.txt";
    if (folder.empty() || !host::WriteWholeFile(prose, LongProse()) || !host::WriteWholeFile(sentence, "Speak up."))
        Fail("cannot write the texts into " + folder);
    MeasureFirstSound(prose, trials);
    MeasureDefaultOutput(LongProse(), trials / 4 + 1);
    MeasureSentence(trials);
    MeasurePlayWithEveryVoice(sentence, trials);
    MeasureVoicePage(trials / 4 + 1);
    host::RemoveFolderTree(folder);
}

// ---- Output ------------------------------------------------------------------------------------

void PrintTable() {
    std::printf("\n%-54s %-58s %-22s %s\n", "Figure", "Measured", "Aim", "");
    for (const Row& row : Rows)
        std::printf("%-54s %-58s %-22s %s\n", row.figure.c_str(), row.measured.c_str(), row.aim.c_str(),
                    row.verdict.c_str());
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

bool WriteMarkdown(const std::string& path, const std::string& machine) {
    std::string text = "Measured " + Today() + " on " + (machine.empty() ? "(machine not given)" : machine) + ".\n\n";
    text += "| Figure | Measured | Aim | |\n|---|---|---|---|\n";
    for (const Row& row : Rows)
        text += "| " + row.figure + " | " + row.measured + " | " + row.aim + " | " + row.verdict + " |\n";
    return host::WriteWholeFile(path, text);
}

}  // namespace

int main(int argc, char** argv) {
    std::string markdown, machine;
    int trials = 100;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--markdown" && i + 1 < argc)
            markdown = argv[++i];
        else if (arg == "--machine" && i + 1 < argc)
            machine = argv[++i];
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--trials" && i + 1 < argc)
            trials = std::atoi(argv[++i]);
        else
            Fail("usage: txtbench.exe [--markdown FILE] [--machine TEXT] [--trials N] [--only SECTION]");
    }
    if (trials < 1) Fail("--trials needs a positive number");

    host::MessageBoxWatcher boxes;
    boxes.OnBox([](const host::SeenBox& box) {
        std::fprintf(stderr, "txtbench: the plug-in showed a message box: %s: %s\n", box.caption.c_str(),
                     box.text.c_str());
        std::fflush(stderr);
        std::_Exit(3);
    });
    const Texts texts = MakeTexts();
    const auto wanted = [&](const char* section) { return only.empty() || only == section; };
    if (wanted("write")) MeasureWritePath(texts, trials);
    if (wanted("stop")) MeasureStopLatencies(texts, trials);
    if (wanted("eof")) MeasureEndOfFile(texts, trials / 2 + 1);
    if (wanted("play")) MeasurePlay(texts, trials / 2 + 1);
    // Before the Quit section's 60 MB file: run after it, the engine stand-in's Speak of the 10 MB text
    // (which keeps several copies of it) ran out of memory in this 32-bit process.
    if (wanted("utf8")) MeasureUtf8File(texts, trials / 10 + 1);
    if (wanted("books")) MeasureBooks(texts, trials / 10 + 1);
    if (wanted("quit")) MeasureQuit(texts, trials / 10 + 1);
    if (wanted("places")) MeasureReadingFromPlaces(texts, trials / 10 + 1);
    if (wanted("seek")) MeasureSeeking(texts, trials / 10 + 1);
    if (wanted("cycles")) MeasureCycles(texts);
    if (wanted("window")) MeasureLongTexts(texts);
    if (wanted("window") || wanted("shapes")) MeasureTextShapes(texts);
    if (wanted("window") || wanted("quit")) MeasureQuitAfterLongText(texts);
    if (wanted("espeak")) MeasureEspeakVoices(trials / 5 + 1);
    if (wanted("espeak") || wanted("estimate")) MeasureLengthEstimate(texts);
    host::RemoveFolderTree(texts.folder);

    PrintTable();
    if (!markdown.empty() && !WriteMarkdown(markdown, machine)) Fail("cannot write " + markdown);
    return 0;
}
