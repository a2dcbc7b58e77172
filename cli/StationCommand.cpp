// korvex-cli station: programs every board whose port appears, hands-free, until Ctrl+C or
// --count boards; one line per finished board, a status line on a terminal, and the tally.
#include "CliOperationLog.h"
#include "CliProgramJob.h"
#include "CliProgress.h"
#include "ImageFile.h"
#include "PortPolling.h"
#include "StationBook.h"

#include <CLI/CLI.hpp>
#include <QThread>

#include <chrono>
#include <memory>

namespace {

struct TStationOptions {
    TProgramOptions Program;
    std::string Ports; // a glob; empty: every port that appears
    int Count = 0;     // 0: no limit
    bool OncePerBoard = true;
};

// The bytes a board had written: none when it skipped every sector.
int64_t WrittenBytes(const TBoard& board) {
    const QJsonValue sectors = board.Json().Object().value("sectors_written");
    return sectors.isDouble() && sectors.toInt() == 0 ? 0 : board.BytesMoved();
}

// One board in progress on its own thread.
struct TRunningBoard {
    TPortCandidate Port;
    std::unique_ptr<TBoard> Board;
    std::unique_ptr<QThread> Thread;
};

class TStation {
public:
    TStation(const TStationOptions& options, const TProgramJob& job)
        : Options(options), Job(job), Book(options.Count),
          Work(LoggedWork(options.Program.Log, "program", job.Data, job.Length,
                          [this](TBoard& board) { ProgramBoard(board, Options.Program, Job); })) {}

    int Run();

private:
    bool Wanted(const TPortCandidate& port) const {
        return Options.Ports.empty() || PortMatches(Options.Ports, port);
    }
    void Look();
    // A port that appeared, or whose details changed: its board is programmed when the port is
    // wanted and new to the book.
    void Take(const TPortCandidate& port);
    void Start(const TPortCandidate& port);
    // Reports the boards that finished; waits for all of them when wait is set.
    void Collect(bool wait);
    void Report(const TRunningBoard& running);
    void ShowStatus();

    const TStationOptions& Options;
    const TProgramJob& Job;
    TStationBook Book;
    TBoardWork Work;
    TPortWatcher Watcher;
    std::vector<TRunningBoard> Running;
    int StatusSlot = -1;
};

void TStation::Start(const TPortCandidate& port) {
    TRunningBoard running;
    running.Port = port;
    // The board's own lines are left out: the station prints one line for it when it finished.
    running.Board = std::make_unique<TBoard>(port.Name.toLocal8Bit().toStdString(), true, true, -1);
    TBoard* board = running.Board.get();
    board->KeepFailuresQuiet();
    if (Options.Program.Board.Progress == ProgressJson)
        board->SendEvents();
    // Known now: a board whose port went away mid-way is still reported with it.
    if (!port.SerialNumber.isEmpty())
        board->Json().Add("serial_number", port.SerialNumber);
    // Qt's threads, as for several boards of one command: the serial port wants one.
    running.Thread.reset(QThread::create([board, this] {
        board->Start();
        try {
            Work(*board);
        } catch (const std::exception& error) {
            board->Fail(error.what());
        }
        board->Finish();
    }));
    running.Thread->start();
    Running.push_back(std::move(running));
}

void TStation::Look() {
    const TPortChanges changes = Watcher.Update(PortCandidates());
    for (const TPortCandidate& port : changes.Gone)
        Book.Gone(port.Name.toLocal8Bit().toStdString());
    for (const TPortCandidate& port : changes.Changed) {
        // Details that came late, as a by-id link: the finished line shows them; and a port
        // --ports takes only by them is taken now. One already taken stays one board.
        for (TRunningBoard& running : Running)
            if (running.Port.Name == port.Name)
                running.Port = port;
        Take(port);
    }
    for (const TPortCandidate& port : changes.Appeared)
        Take(port);
}

void TStation::Take(const TPortCandidate& port) {
    if (Wanted(port) && Book.Appeared(port.Name.toLocal8Bit().toStdString()))
        Start(port);
}

void TStation::Report(const TRunningBoard& running) {
    TBoard& board = *running.Board;
    TCliConsole& console = TCliConsole::Instance();
    if (board.SendsEvents())
        board.SendResultEvent("program");
    else if (Options.Program.Board.Json)
        console.Raw(board.JsonText("program") + "\n");
    else
        console.Out("", FinishedBoardLine(
                            board.Port(), running.Port.SerialNumber.toLocal8Bit().toStdString(),
                            board.Outcome(), board.ElapsedSeconds(), board.FailureReason(),
                            board.Json().Object().value("serial").toInteger(-1)));
}

void TStation::Collect(bool wait) {
    for (size_t i = 0; i < Running.size();) {
        TRunningBoard& running = Running[i];
        if (wait)
            running.Thread->wait();
        if (!running.Thread->isFinished()) {
            ++i;
            continue;
        }
        running.Thread->wait();
        Report(running);
        const TBoard& board = *running.Board;
        const bool again = Book.Finished(board.Port(), board.Outcome(), WrittenBytes(board),
                                         board.ElapsedSeconds());
        const TPortCandidate port = running.Port;
        Running.erase(Running.begin() + static_cast<std::ptrdiff_t>(i));
        if (again && !InterruptRequested())
            Start(port);
    }
}

void TStation::ShowStatus() {
    TCliConsole::Instance().SetPhase(StatusSlot, Book.StatusText());
}

int TStation::Run() {
    TCliConsole& console = TCliConsole::Instance();
    console.Configure(Options.Program.Board.Quiet, true);
    InstallInterruptHandler();
    const auto started = std::chrono::steady_clock::now();
    // Without a pattern the ports there now belong to the bench, not to boards to program.
    for (const TPortCandidate& port : Watcher.Update(PortCandidates()).Appeared) {
        if (Options.Ports.empty())
            Book.AlreadyThere(port.Name.toLocal8Bit().toStdString());
        else
            Take(port);
    }
    StatusSlot = console.AddProgress("Station:");
    while (!InterruptRequested() && !Book.AllDone()) {
        Collect(false);
        ShowStatus();
        if (Book.AllDone())
            break;
        WaitForPortChange();
        Look();
    }
    // Ctrl+C: the boards in progress stop after their current block.
    Collect(true);
    console.EndProgress();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (Options.Program.Board.Progress == ProgressJson)
        console.Raw(TallyEvent(Book.TallyJson(seconds)) + "\n");
    else if (Options.Program.Board.Json)
        console.Raw(Book.TallyJson(seconds) + "\n");
    else
        console.Out("", Book.TallyText());
    return Book.ExitCode(InterruptedExitCode());
}

int RunStation(const TStationOptions& options) {
    TFileImage image;
    const std::optional<TProgramJob> job = PrepareProgramJob(options.Program, image);
    if (!job)
        return CliExitFailure;
    TStation station(options, *job);
    return station.Run();
}

} // namespace

void AddStationCommand(TCliCommands& commands) {
    auto options = std::make_shared<TStationOptions>();
    CLI::App* command = commands.Add(
        {"station", "FILE [--address ADDR] [--ports PATTERN] [--count N] [OPTIONS]",
         "program every board whose port appears, until Ctrl+C",
         "A production bench: each board plugged in is programmed as 'program' does (erase,\n"
         "write, the board's verify), on its own, several at once. A board is programmed\n"
         "again only after its port went away and came back. Without --ports only ports\n"
         "that appear after the start are taken; with it, matching ports already there too.\n"
         "One line per finished board; on a terminal a status line below them (waiting:\n"
         "finished boards still attached). Ctrl+C lets the boards in progress stop after\n"
         "their current block, then prints the tally. Exit 0 only when no board failed.\n"
         "--skip-unchanged trusts what it trusts for 'program' (see its help).\n"
         "\n" KORVEX_SERIAL_HELP},
        [options] { return RunStation(*options); });
    TProgramOptions& program = options->Program;
    AddImageArgument(command, program.File);
    AddAddressOption(command, program.Address, "where the image goes");
    command->add_flag("-y,--yes", program.Yes, "erase and program protected sectors too");
    command->add_flag("-r,--readback", program.ReadBack,
                      "also read the range back and compare it byte for byte");
    command->add_flag("--skip-unchanged", program.SkipUnchanged,
                      "leave sectors that already hold the image's content as they are");
    AddLogOption(command, program.Log);
    AddSerialOptions(command, program.Serial);
    AddTypeOption(command, program.Type);
    command
        ->add_option("--ports", options->Ports,
                     "only ports whose device, by-id or usb: name matches the pattern "
                     "(* ? [..]); default: every port that appears")
        ->option_text("PATTERN");
    command->add_option("--count", options->Count, "stop after N boards")
        ->option_text("N")
        ->check(CLI::PositiveNumber);
    command->add_flag("--once-per-board", options->OncePerBoard,
                      "program a board again only after its port went away and came back "
                      "(the default)");
    command->add_flag("-q,--quiet", program.Board.Quiet, "print nothing but errors and JSON");
    command->add_flag("--json", program.Board.Json,
                      "one JSON object per board as it finishes, and the tally at the end");
    AddProgressOption(command, program.Board.Progress);
}
