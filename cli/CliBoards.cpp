#include "CliBoards.h"

#include "CliProgress.h"
#include "Comm.h"
#include "HexText.h"
#include "LinkSpeed.h"
#include "MonitorMessages.h"
#include "PortSelector.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

// The signal that asked the boards to stop; 0 while none did.
std::atomic<int> InterruptSignal{0};

extern "C" void OnInterrupt(int signal) {
    int none = 0;
    InterruptSignal.compare_exchange_strong(none, signal);
}

std::string Hex(uint32_t address) {
    return AddrToHex(address)();
}

QJsonObject IdentityJson(const TMonitorIdentity& identity) {
    TJsonFields json;
    json.AddString("chip_type", "0x" + std::string(WordToHex(identity.ChipType)()));
    json.AddString("flash_code", "0x" + std::string(WordToHex(identity.FlashCode)()));
    json.AddString("version", "0x" + std::string(WordToHex(identity.Version)()));
    json.AddNumber("clock_divisor", static_cast<int64_t>(identity.ClockDivisor));
    json.AddString("base_address", Hex(identity.BaseAddress));
    return json.Object();
}

} // namespace

void AddBoardOptions(CLI::App* command, TBoardOptions& options, TBoardOptionSet ports,
                     bool linkable) {
    const bool several = ports == TBoardOptionSet::SeveralPorts;
    command
        ->add_option("-p,--port", options.Ports,
                     several ? "serial port of a board; give it again for each further board, "
                               "all worked on at once (default: the port the window last used)"
                             : "serial port of the board (default: the port the window last used)")
        ->option_text("PORT")
        ->allow_extra_args(false);
    if (linkable)
        command
            ->add_option("--linked", options.Linked,
                         "do not synchronise first: the board was synchronised at BAUD before "
                         "(the link speed 'sync' printed)")
            ->option_text("BAUD")
            ->check(CLI::IsMember(LinkSpeeds()));
    command->add_flag("-q,--quiet", options.Quiet, "print nothing but errors");
    command->add_flag("--json", options.Json,
                      "print one JSON object per board on stdout instead of the text; a name "
                      "that is not UTF-8 has each other byte as \\xHH and each backslash "
                      "doubled, and NAME_escaped: true beside it");
    AddProgressOption(command, options.Progress);
}

void AddTypeOption(CLI::App* command, std::string& type) {
    command
        ->add_option("-t,--type", type,
                     "board type, as 'korvex-cli types' lists them (default: the window's current "
                     "type)")
        ->option_text("NAME");
}

void AddImageArgument(CLI::App* command, std::string& file) {
    command->add_option("FILE", file, "the image: binary, Intel HEX, S-records or ELF")->required();
}

void AddAddressOption(CLI::App* command, std::string& address, const char* description) {
    command->add_option("-a,--address", address, description)
        ->option_text("ADDR")
        ->check(CliNumberCheck(false, 0xFFFFFFFFull));
}

void AddBaudOption(CLI::App* command, int& baud, const char* description) {
    command->add_option("-b,--baud", baud, description)
        ->option_text("BAUD")
        ->check(CLI::IsMember(LinkSpeeds()));
}

void InstallInterruptHandler() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The first signal stops after the current block; the default action is back for a second.
    // A closed terminal (SIGHUP) or a supervisor's SIGTERM must not leave a board half-written
    // without a word.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool InterruptRequested() {
    return InterruptSignal != 0;
}

int InterruptedExitCode() {
    return InterruptSignal != 0 ? 128 + InterruptSignal : CliExitInterrupted;
}

std::vector<int> LinkSpeeds() {
    return std::vector<int>(BaudRates, BaudRates + BaudRateCount);
}

TSyncRequest StoredSyncRequest(int fixedSpeed) {
    TSyncRequest request;
    request.AutoSpeed = fixedSpeed == 0 && ReadAutoSpeed();
    request.FixedSpeed = fixedSpeed != 0 ? fixedSpeed : ReadMaxSpeed(FlashSpeedSetting);
    return request;
}

// ---- One board --------------------------------------------------------------------------------

TBoard::TBoard(const std::string& port, bool prefixed, bool json, int progressSlot)
    : PortName(port), Prefix(prefixed ? port + ": " : std::string()), JsonMode(json),
      ProgressSlot(progressSlot) {}

void TBoard::Start() {
    Started = std::chrono::steady_clock::now();
}

void TBoard::Finish() {
    Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
}

void TBoard::Line(const std::string& text) {
    Printed = true;
    if (!JsonMode)
        TCliConsole::Instance().Out(Prefix, text);
}

void TBoard::Separator() {
    if (Printed)
        Line(std::string());
}

void TBoard::Fail(const std::string& message) {
    FailureText = State == TBoardOutcome::Failed ? FailureText + "\n" + message : message;
    State = TBoardOutcome::Failed;
    if (EchoFailures)
        TCliConsole::Instance().Err(Prefix, message);
}

void TBoard::Interrupted() {
    State = TBoardOutcome::Interrupted;
    Line(UserBreakLine);
}

void TBoard::Phase(const char* name) {
    TCliConsole::Instance().SetPhase(ProgressSlot, name);
    if (Events)
        Events->Phase(name);
}

bool TBoard::Progress(int64_t done, int64_t total) {
    TCliConsole::Instance().SetProgress(ProgressSlot, done, total);
    if (Events)
        Events->Progress(done, total);
    return !InterruptRequested();
}

void TBoard::WatchTurnaround(TComms& port) {
    port.Turnaround().Measured = [this](const TTurnaroundFigures& figures) {
        TurnaroundMs = figures.AverageMs;
        if (figures.Slow() && !Hinted) {
            Hinted = true;
            TCliConsole::Instance().Err(Prefix, SlowAnswersHint(figures));
        }
    };
}

bool TBoard::Open(TComms& port, int speed) {
    WatchTurnaround(port);
    const std::string settings = PortSettingsText(PortName, speed);
    if (!port.Open(settings.c_str())) {
        Fail(PortOpenFailure(settings, port.LastError().toStdString()).Text);
        return false;
    }
    LinkSpeed = speed;
    return true;
}

bool TBoard::Connect(TComms& port, TBootMonitor& monitor, int linked, const TSyncRequest& request) {
    WatchTurnaround(port);
    if (linked != 0) {
        if (!Open(port, linked))
            return false;
    } else {
        Phase("Synchronizing");
        TSyncRequest own = request;
        own.Port = PortName;
        const TSyncResult sync = monitor.Synchronize(own);
        if (!sync.Ok()) {
            Fail(WithServerLine(SyncFailure(sync), sync).Text);
            return false;
        }
        LinkSpeed = sync.Speed;
        BoardIdentity = sync.Identity;
        Identified = true;
    }
    // The synchronisation cannot be stopped half-way; Ctrl+C meanwhile stops before the rest.
    if (InterruptRequested()) {
        Interrupted();
        return false;
    }
    return true;
}

void TBoard::SetResult(const std::string& line, int64_t bytes, const std::string& details) {
    ResultLine = line;
    Bytes = bytes;
    if (!line.empty())
        Line(details.empty() ? line : details + "\n" + line);
}

std::string TBoard::Summary() const {
    switch (State) {
    case TBoardOutcome::Failed:
        return Prefix + "FAILED: " + OneLine(FailureText);
    case TBoardOutcome::Interrupted:
        return Prefix + "interrupted: " + UserBreakLine;
    case TBoardOutcome::Done:
        break;
    }
    return Prefix + FormatText("done in %.1f s", Seconds) +
           (ResultLine.empty() ? "" : ": " + ResultLine);
}

std::string TBoard::JsonText(const char* operation) const {
    TJsonFields json;
    json.AddString("port", PortName);
    const QString serial = PortSerialNumber(QString::fromStdString(PortName));
    if (!serial.isEmpty())
        json.Add("serial_number", serial);
    json.AddString("operation", operation);
    json.AddString("result", State == TBoardOutcome::Done     ? "ok"
                             : State == TBoardOutcome::Failed ? "failed"
                                                              : "interrupted");
    json.AddNumber("bytes", Bytes);
    json.AddNumber("seconds", Seconds, 3);
    if (LinkSpeed != 0)
        json.AddNumber("speed", static_cast<int64_t>(LinkSpeed));
    if (Identified)
        json.Add("identity", IdentityJson(BoardIdentity));
    if (TurnaroundMs >= 0)
        json.AddNumber("turnaround_ms", TurnaroundMs, 1);
    else
        json.Add("turnaround_ms", QJsonValue::Null);
    json.AddAll(Extra);
    if (State == TBoardOutcome::Failed)
        json.AddString("error", FailureText);
    return json.Text();
}

void TBoard::SendEvents() {
    JsonMode = true;
    Events = std::make_shared<TProgressEvents>(PortName);
}

void TBoard::SendResultEvent(const char* operation) const {
    Events->Result(JsonText(operation), State == TBoardOutcome::Done);
}

// ---- Several boards ---------------------------------------------------------------------------

int RunOnBoards(const TBoardOptions& options, const std::vector<std::string>& ports,
                const char* operation, const TBoardWork& work) {
    TCliConsole& console = TCliConsole::Instance();
    const bool events = options.Progress == ProgressJson;
    // The events take the place of the progress lines.
    console.Configure(options.Quiet, !events);
    InstallInterruptHandler();
    const bool several = ports.size() > 1;
    std::vector<std::unique_ptr<TBoard>> boards;
    for (const std::string& port : ports) {
        boards.push_back(
            std::make_unique<TBoard>(port, several, options.Json, console.AddProgress(port)));
        console.SetPhase(boards.back()->Slot(), "Starting");
        if (events)
            boards.back()->SendEvents();
    }

    // Qt's threads rather than plain ones: the serial port wants the event dispatcher that a
    // QThread has, though nothing here runs an event loop.
    std::vector<std::unique_ptr<QThread>> threads;
    for (const std::unique_ptr<TBoard>& board : boards) {
        TBoard* one = board.get();
        threads.emplace_back(QThread::create([one, &work] {
            one->Start();
            try {
                work(*one);
            } catch (const std::exception& error) {
                one->Fail(error.what());
            }
            one->Finish();
            const TBoardOutcome outcome = one->Outcome();
            TCliConsole::Instance().SetPhase(one->Slot(), outcome == TBoardOutcome::Done ? "done"
                                                          : outcome == TBoardOutcome::Failed
                                                              ? "FAILED"
                                                              : "interrupted");
        }));
        threads.back()->start();
    }
    for (const std::unique_ptr<QThread>& thread : threads)
        thread->wait();
    console.EndProgress();

    bool failed = false, interrupted = false;
    for (const std::unique_ptr<TBoard>& board : boards) {
        failed |= board->Outcome() == TBoardOutcome::Failed;
        interrupted |= board->Outcome() == TBoardOutcome::Interrupted;
        if (events)
            board->SendResultEvent(operation);
        else if (options.Json)
            console.Raw(board->JsonText(operation) + "\n");
        else if (several)
            console.Out("", board->Summary());
    }
    if (interrupted)
        return InterruptedExitCode();
    return failed ? CliExitFailure : CliExitOk;
}
