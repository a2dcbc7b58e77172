// korvex-soak: a long run of random boot-monitor operations against the simulated board, with
// random faults on the board's side. Every outcome is worked out beforehand from the faults and
// held against what the host reports and what the board then holds; a watchdog catches an
// operation that does not end. Exits non-zero on any wrong outcome or hang.
//
//   korvex-soak [--seed N] [--ops N] [--answer-ms N] [--identity-ms N] [--verbose]
#include "BoardSim.h"
#include "Comm.h"
#include "MonitorMessages.h"
#include "SoakOps.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr uint64_t DefaultSeed = 20261207;
constexpr int DefaultOps = 1000;
// Wrong outcomes told in full; the rest only counted.
constexpr int DetailedWrongOutcomes = 20;
// An SRAM board stores what it reads on its own thread; this long for it to catch up.
constexpr int SramSettleMs = 3000;
// The quiet synchronisation and the host's own work on top of the waits it must sit through.
constexpr int WatchdogBaseMs = 20000;

struct TOptions {
    uint64_t Seed = DefaultSeed;
    int Ops = DefaultOps;
    TMonitorTiming Timing;
    bool Verbose = false;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
    options.Timing.IdentityTimeoutMs = 150;
    options.Timing.AnswerTimeoutMs = 250;
    options.Timing.ErasePauseMs = 5;
    options.Timing.WritePauseMs = 5;
    options.Timing.QuietMs = 100;
    options.Timing.TransmitTimeoutMs = 1000;
    if (const char* seed = std::getenv("SOAK_SEED"); seed && *seed)
        options.Seed = std::strtoull(seed, nullptr, 10);
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool valued = i + 1 < argc;
        if (option == "--seed" && valued)
            options.Seed = std::strtoull(argv[++i], nullptr, 10);
        else if (option == "--ops" && valued)
            options.Ops = std::atoi(argv[++i]);
        else if (option == "--answer-ms" && valued)
            options.Timing.AnswerTimeoutMs = std::atoi(argv[++i]);
        else if (option == "--identity-ms" && valued)
            options.Timing.IdentityTimeoutMs = std::atoi(argv[++i]);
        else if (option == "--verbose")
            options.Verbose = true;
        else
            return false;
    }
    return options.Ops > 0 && options.Timing.AnswerTimeoutMs > 0 &&
           options.Timing.IdentityTimeoutMs > 0;
}

// The resident memory of this process in KiB, from /proc/self/status; 0 where there is none.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::shared_ptr<TBoardSim> StartBoard(TBoardMode mode, const TFlashModel& flash) {
    TBoardConfig config;
    config.Type = flash.Board();
    config.Mode = mode;
    auto board = std::make_shared<TBoardSim>(config);
    std::string error;
    if (!board->Start(&error)) {
        std::fprintf(stderr, "korvex-soak: cannot start the simulated board: %s\n", error.c_str());
        std::exit(2);
    }
    if (mode == TBoardMode::Flash)
        board->LoadMemory(flash.Start(), flash.Contents());
    return board;
}

// Everything one operation's thread uses, kept alive by that thread even if it never ends.
struct TRun {
    std::shared_ptr<TBoardSim> Board;
    TSoakOp Op;
    TFaultPlan Plan;
    TMonitorTiming Timing;
    TLinkState Link;
    bool QuietSync = false;
    bool SetupFailed = false;
    TActual Actual;

    void Execute() {
        const std::string path = Board->PortPath();
        if (QuietSync) {
            // Fault counts start from a synchronisation the faults play no part in.
            Board->SetFaults(TFaultPlan());
            TComms port;
            TBootMonitor monitor(port, Timing);
            if (!monitor.Synchronize({path, false, Link.Speed}).Ok()) {
                SetupFailed = true;
                return;
            }
        }
        Board->SetFaults(Plan);
        Actual = ::Execute(Op, path, Timing, Link);
    }
};

// Runs the operation on its own thread; false when it had not ended within boundMs. The thread
// is then left to itself with everything it uses.
bool RunWatched(const std::shared_ptr<TRun>& run, int boundMs) {
    QThread* thread = QThread::create([run] { run->Execute(); });
    thread->start();
    if (!thread->wait(QDeadlineTimer(boundMs)))
        return false;
    delete thread;
    return true;
}

// What the board's SRAM holds once it has read all there is to read.
std::vector<uint8_t> SettledSram(const TBoardSim& board, size_t expected) {
    QDeadlineTimer deadline(SramSettleMs);
    std::vector<uint8_t> stored = board.SramData();
    while (stored.size() < expected && !deadline.hasExpired()) {
        QThread::msleep(10);
        stored = board.SramData();
    }
    return stored;
}

struct TTally {
    int Ops[OpKindCount] = {};
    int Wrong[OpKindCount] = {};
    int Hangs[OpKindCount] = {};
    double Seconds[OpKindCount] = {};
    int Faults[FaultKindCount] = {};
    int WrongKinds[WrongKindCount] = {};
    int Faulted = 0;
    int TotalWrong = 0;
    int TotalHangs = 0;
};

class TSoak {
public:
    explicit TSoak(const TOptions& options)
        : Options(options), Flash(SoakBoardType()), Generator(options.Seed, Flash),
          Board(StartBoard(TBoardMode::Flash, Flash)) {}

    void RunOne(int index);
    const TTally& Tally() const { return Counts; }

private:
    int Prepare(TRun& run);
    void Report(int index, const TSoakOp& op, const std::vector<TDifference>& differences);
    void CheckBoard(const TRun& run, const TExpected& expected, TFlashModel& predicted,
                    std::vector<TDifference>& differences);

    TOptions Options;
    TFlashModel Flash;
    TOpGenerator Generator;
    std::shared_ptr<TBoardSim> Board;
    bool BoardSpent = false;
    TLinkState Link;
    TTally Counts;
};

void TSoak::RunOne(int index) {
    auto run = std::make_shared<TRun>();
    run->Op = Generator.Next();
    const TSoakOp& op = run->Op;
    const int kind = static_cast<int>(op.Kind);
    ++Counts.Ops[kind];
    const std::vector<TFaultKind> faults = FaultKindsOf(op);
    Counts.Faulted += faults.empty() ? 0 : 1;
    for (TFaultKind fault : faults)
        ++Counts.Faults[static_cast<int>(fault)];

    const int answeredBefore = Prepare(*run);
    TFlashModel predicted = Flash;
    const TExpected expected = Predict(op, run->Plan, answeredBefore, run->Board->PortPath(),
                                       Options.Timing, Link, predicted);
    const int boundMs = WatchdogBaseMs + 3 * expected.WaitMs;
    const auto started = std::chrono::steady_clock::now();
    const bool ended = RunWatched(run, boundMs);
    Counts.Seconds[kind] += Seconds(started);
    if (!ended) {
        ++Counts.Hangs[kind];
        ++Counts.TotalHangs;
        std::printf("HANG   #%d %s: no end within %d ms\n", index, op.Describe().c_str(), boundMs);
        // The stuck thread keeps its board; the next operation starts on a new one.
        BoardSpent = true;
        Flash = predicted;
        return;
    }

    std::vector<TDifference> differences;
    if (run->SetupFailed) {
        differences.push_back(
            {TWrongKind::Setup, "the link could not be synchronised before the operation"});
        predicted = Flash;
    } else {
        differences = Compare(expected, run->Actual);
    }
    CheckBoard(*run, expected, predicted, differences);
    // The board's log of frames is the board's memory, not the host's.
    run->Board->ClearFrames();
    Flash = predicted;
    Link = expected.Link;
    // After a lost line, or an outcome the host got wrong, the next operation starts afresh.
    BoardSpent = BoardSpent || expected.ReasonFollows || !differences.empty();
    if (!differences.empty()) {
        ++Counts.Wrong[kind];
        ++Counts.TotalWrong;
        for (const TDifference& difference : differences)
            ++Counts.WrongKinds[static_cast<int>(difference.Kind)];
    }
    Report(index, op, differences);
}

// The board and the fault plan for the run: the frames the board will have answered when the
// plan's limits start counting (a fresh board has answered the synchronisation's two frames).
// Fault rules count from a synchronisation, so a faulted operation gets one first.
int TSoak::Prepare(TRun& run) {
    const TSoakOp& op = run.Op;
    for (const std::string& text : op.Faults) {
        std::string error;
        if (!ParseFault(text, run.Plan, error)) {
            std::fprintf(stderr, "korvex-soak: bad fault \"%s\": %s\n", text.c_str(),
                         error.c_str());
            std::exit(2);
        }
    }
    run.Timing = Options.Timing;
    if (op.Kind == TOpKind::Sram) {
        run.Plan.HangUpAfter = op.HangUpAfter;
        run.Board = StartBoard(TBoardMode::Sram, Flash);
        run.Link = Link;
        return 0;
    }
    if (BoardSpent || op.NeedsFreshBoard()) {
        Board = StartBoard(TBoardMode::Flash, Flash);
        Link.Synced = false;
    }
    BoardSpent = op.NeedsFreshBoard();
    run.QuietSync = !Link.Synced || !op.Faults.empty() || op.NeedsFreshBoard();
    if (run.QuietSync)
        Link = {true, 115200};
    const int answeredBefore = 2;
    run.Plan.SilentAfter = op.SilentAfter < 0 ? -1 : answeredBefore + op.SilentAfter;
    run.Plan.HangUpAfter = op.HangUpAfter < 0 ? -1 : answeredBefore + op.HangUpAfter;
    run.Board = Board;
    run.Link = Link;
    return answeredBefore;
}

// The board's own memory against what the operation must have left there; the prediction is
// brought to what the board holds so that one fault is told once.
void TSoak::CheckBoard(const TRun& run, const TExpected& expected, TFlashModel& predicted,
                       std::vector<TDifference>& differences) {
    if (run.Op.Kind == TOpKind::Sram) {
        const std::vector<uint8_t> stored = SettledSram(*run.Board, expected.SramStored.size());
        if (stored != expected.SramStored)
            differences.push_back(
                {TWrongKind::Contents, FormatText("SRAM holds %zu bytes, expected %zu of the image",
                                                  stored.size(), expected.SramStored.size())});
        return;
    }
    const std::vector<uint8_t> flash = run.Board->ReadMemory(predicted.Start(), predicted.Size());
    if (flash == predicted.Contents())
        return;
    size_t first = 0;
    while (flash[first] == predicted.Contents()[first])
        ++first;
    differences.push_back({TWrongKind::Contents,
                           FormatText("flash differs from 0x%08X: board 0x%02X, expected 0x%02X",
                                      predicted.Start() + static_cast<uint32_t>(first),
                                      flash[first], predicted.Contents()[first])});
    predicted.Adopt(flash);
}

void TSoak::Report(int index, const TSoakOp& op, const std::vector<TDifference>& differences) {
    if (differences.empty()) {
        if (Options.Verbose)
            std::printf("ok     #%d %s\n", index, op.Describe().c_str());
        return;
    }
    if (Counts.TotalWrong > DetailedWrongOutcomes)
        return;
    std::printf("WRONG  #%d %s\n", index, op.Describe().c_str());
    for (const TDifference& difference : differences)
        std::printf("         %s: %s\n", WrongKindName(difference.Kind), difference.Text.c_str());
}

void PrintSummary(const TOptions& options, const TTally& tally, long rssStart, long rssWarm,
                  long rssEnd, double wall) {
    std::printf("\n%-14s %8s %8s %8s %10s\n", "operation", "count", "wrong", "hangs", "seconds");
    for (int kind = 0; kind < OpKindCount; ++kind)
        std::printf("%-14s %8d %8d %8d %10.1f\n", OpKindName(static_cast<TOpKind>(kind)),
                    tally.Ops[kind], tally.Wrong[kind], tally.Hangs[kind], tally.Seconds[kind]);
    std::printf("%-14s %8d %8d %8d\n", "all", options.Ops, tally.TotalWrong, tally.TotalHangs);
    std::printf("\n%-14s %8s   (%d operations with at least one)\n", "fault", "injected",
                tally.Faulted);
    for (int kind = 0; kind < FaultKindCount; ++kind)
        std::printf("%-14s %8d\n", FaultKindName(static_cast<TFaultKind>(kind)),
                    tally.Faults[kind]);
    std::printf("\n%-22s %8s\n", "kind of wrong outcome", "seen");
    for (int kind = 0; kind < WrongKindCount; ++kind)
        std::printf("%-22s %8d\n", WrongKindName(static_cast<TWrongKind>(kind)),
                    tally.WrongKinds[kind]);
    std::printf("\nwrong outcomes %8d\nhangs          %8d\n", tally.TotalWrong, tally.TotalHangs);
    std::printf("RSS            %8ld KiB at the start, %ld KiB after the first tenth, %ld KiB at "
                "the end (%+ld KiB since the first tenth)\n",
                rssStart, rssWarm, rssEnd, rssEnd - rssWarm);
    std::printf("wall time      %8.1f s\nseed           %8llu\n", wall,
                static_cast<unsigned long long>(options.Seed));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: korvex-soak [--seed N] [--ops N] [--answer-ms N] "
                             "[--identity-ms N] [--verbose]\n");
        return 2;
    }
    std::printf("korvex-soak: seed %llu (--seed or SOAK_SEED to change), %d operations, answer "
                "time-out %d ms, identity %d ms, pauses %d/%d ms\n",
                static_cast<unsigned long long>(options.Seed), options.Ops,
                options.Timing.AnswerTimeoutMs, options.Timing.IdentityTimeoutMs,
                options.Timing.ErasePauseMs, options.Timing.WritePauseMs);
    std::fflush(stdout);

    const auto started = std::chrono::steady_clock::now();
    const long rssStart = ResidentKiB();
    long rssWarm = rssStart;
    TSoak soak(options);
    for (int index = 0; index < options.Ops; ++index) {
        soak.RunOne(index);
        if (index + 1 == std::max(options.Ops / 10, 1))
            rssWarm = ResidentKiB();
        if ((index + 1) % 100 == 0) {
            std::printf("  %d/%d operations, %d wrong, %d hangs, %.1f s\n", index + 1, options.Ops,
                        soak.Tally().TotalWrong, soak.Tally().TotalHangs, Seconds(started));
            std::fflush(stdout);
        }
    }
    PrintSummary(options, soak.Tally(), rssStart, rssWarm, ResidentKiB(), Seconds(started));
    std::fflush(stdout);
    const bool failed = soak.Tally().TotalWrong > 0 || soak.Tally().TotalHangs > 0;
    // A thread that never ended cannot be joined: leave without waiting for it.
    if (soak.Tally().TotalHangs > 0)
        std::_Exit(1);
    return failed ? 1 : 0;
}
