// Micro benchmarks of the controller's hot paths, all without a player: the
// link queues nothing, the window keeps only its field texts, waits return at
// once and console lines are dropped.
//
//   frame reply      LocalVCR::DoTC on a complete reply, and the pure decoder
//   frame search     MakeFRString and the frame template filled with its digits;
//                    a whole cue-in (nine searches queued) for scale
//   command line     ParseNetCommand on typical lines
//   EDL              a 100-event list formatted, parsed, saved (temporary
//                    file, flushed to disk, renamed) and loaded
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <benchmark/benchmark.h>

#include "logger/Edl.h"
#include "player/Display.h"
#include "player/LocalVCR.h"
#include "player/PlayerLink.h"
#include "player/Timecode.h"
#include "remote/CommandLanguage.h"
#include "startup/Utils.h"
#include "support/SteppedClock.h"
#include "support/TestSupport.h"

using namespace morvia;

namespace {

class NullLink : public PlayerLink {
public:
    void queue(const std::string& command) override { benchmark::DoNotOptimize(command.data()); }
    void setd() override {}
    void start() override {}
    bool hasSerialPort() const override { return false; }
};

// Keeps field texts under a lock, as the real window model does.
class FieldsOnly : public test::FieldsDisplay {
public:
    FieldsOnly() : FieldsDisplay({{Field::cuefield, "00:01:00:00"}, {Field::endfield, "00:01:10:00"}}) {}
};

struct Controller {
    NullLink link;
    FieldsOnly display;
    LocalVCR vcr{&link, display, 2001};
};

// ---- frame reply ----

void BM_DoTC(benchmark::State& state) {
    Controller c;
    const std::array<std::uint8_t, 16> reply{'0', '1', '2', '3', '4', '5', '6', '\r'};
    for (auto _ : state) c.vcr.DoTC(reply.data(), 16, 8);
    benchmark::DoNotOptimize(c.vcr.getTCString());
}
BENCHMARK(BM_DoTC);

void BM_DecodeFrameReply(benchmark::State& state) {
    std::array<std::uint8_t, 16> reply{'0', '1', '2', '3', '4', '5', '6', '\r'};
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply.data());
        auto n = timecode::DecodeFrameReply(reply.data(), reply.size());
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_DecodeFrameReply);

void BM_FramesToTC(benchmark::State& state) {
    long long n = 123456;
    for (auto _ : state) {
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(timecode::FramesToTC(n));
    }
}
BENCHMARK(BM_FramesToTC);

// ---- frame-search command ----

void BM_MakeFRString_Fill(benchmark::State& state) {
    Controller c;
    const std::string tc = "01:02:03:04";
    std::array<int, 7> fr{};
    std::string command = "FR0000000SE\r";
    for (auto _ : state) {
        benchmark::DoNotOptimize(c.vcr.MakeFRString(tc, fr));
        timecode::PatchFrameDigits(command, fr);
        benchmark::DoNotOptimize(command.data());
    }
}
BENCHMARK(BM_MakeFRString_Fill);

void BM_CueIn(benchmark::State& state) {
    Controller c;
    for (auto _ : state) c.vcr.cuein();
}
BENCHMARK(BM_CueIn);

// ---- command line ----

void BM_ParseNetCommand(benchmark::State& state, const char* line) {
    Controller c;
    const std::string s = line;
    for (auto _ : state) benchmark::DoNotOptimize(ParseNetCommand(c.vcr, s));
}
BENCHMARK_CAPTURE(BM_ParseNetCommand, Play, "Play");
BENCHMARK_CAPTURE(BM_ParseNetCommand, PrevC_late_word, "PrevC");
BENCHMARK_CAPTURE(BM_ParseNetCommand, TNum12, "TNum12");
BENCHMARK_CAPTURE(BM_ParseNetCommand, TC1_point, "TC100:01:00:00");
BENCHMARK_CAPTURE(BM_ParseNetCommand, unknown, "Rewindx");

// ---- EDL ----

EdlEntries hundredEntries() {
    EdlEntries e = EdlEntries::initial();
    for (int i = 0; i < EdlEntryCount; ++i) {
        e.SrcInArray[static_cast<std::size_t>(i)] = timecode::FramesToTC(1800LL * i + 30);
        e.SrcOutArray[static_cast<std::size_t>(i)] = timecode::FramesToTC(1800LL * i + 900);
    }
    return e;
}

std::filesystem::path benchDir() {
    static const std::filesystem::path dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvia-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return std::filesystem::path(pattern);
    }();
    return dir;
}

void BM_FormatEDL100(benchmark::State& state) {
    const EdlEntries e = hundredEntries();
    for (auto _ : state) benchmark::DoNotOptimize(edl::format("list.edl", "Morvia", e));
    state.SetItemsProcessed(state.iterations() * EdlEntryCount);
}
BENCHMARK(BM_FormatEDL100);

void BM_ParseEDL100(benchmark::State& state) {
    const std::string text = edl::format("list.edl", "Morvia", hundredEntries());
    for (auto _ : state) {
        edl::LineSplitter splitter;
        edl::EdlParser parser([](std::string_view) {});
        const edl::LineSplitter::Sink sink = [&](std::string_view k, std::size_t n) { parser.line(k, n); };
        splitter.feed(text.data() + 1, text.size() - 1, sink);
        splitter.finish(sink);
        benchmark::DoNotOptimize(parser.events().size());
    }
    state.SetItemsProcessed(state.iterations() * EdlEntryCount);
}
BENCHMARK(BM_ParseEDL100);

void BM_SaveEDL100(benchmark::State& state) {
    const EdlEntries e = hundredEntries();
    const std::string file = (benchDir() / "save.edl").string();
    for (auto _ : state) {
        if (!SaveEDL(file, "Morvia", e)) state.SkipWithError("SaveEDL failed");
    }
    state.SetItemsProcessed(state.iterations() * EdlEntryCount);
}
BENCHMARK(BM_SaveEDL100)->Unit(benchmark::kMicrosecond);

void BM_LoadEDL100(benchmark::State& state) {
    const std::string file = (benchDir() / "load.edl").string();
    if (!SaveEDL(file, "Morvia", hundredEntries())) {
        state.SkipWithError("SaveEDL failed");
        return;
    }
    for (auto _ : state) {
        auto events = LoadEDL(file);
        if (events.size() != static_cast<std::size_t>(EdlEntryCount)) state.SkipWithError("LoadEDL lost events");
        benchmark::DoNotOptimize(events.data());
    }
    state.SetItemsProcessed(state.iterations() * EdlEntryCount);
}
BENCHMARK(BM_LoadEDL100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    Utils::setConsoleSink([](std::string_view) {});
    Utils::setClock(std::make_shared<test::SteppedClock>(std::chrono::milliseconds(0)));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(benchDir(), ec);
    Utils::setClock(nullptr);
    Utils::setConsoleSink(nullptr);
    return 0;
}
