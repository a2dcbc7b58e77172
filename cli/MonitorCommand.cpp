// korvex-cli monitor: the board's own output on stdout, as the window's "Board output" shows it.
#include "CliCommand.h"
#include "CliMonitor.h"
#include "Comm.h"
#include "MonitorMessages.h"
#include "SerialMonitor.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

// The signal that ends the monitor; 0 while none came.
std::atomic<int> StopSignal{0};

extern "C" void OnStop(int signal) {
    int none = 0;
    StopSignal.compare_exchange_strong(none, signal);
}

void InstallStopHandler() {
    struct sigaction action = {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the wait for the port ends at once.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// Ctrl+C is the way to end the monitor; SIGTERM and SIGHUP end it as they end other commands.
int StopExitCode() {
    const int signal = StopSignal;
    return signal == SIGINT ? CliExitOk : 128 + signal;
}

// Whether stdout is a pipe whose reader has gone: checked while the board is silent too.
bool OutputGone() {
    pollfd entry{};
    entry.fd = STDOUT_FILENO;
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLERR) != 0;
}

// Writes what is shown; false with errno set when stdout no longer takes it.
bool Show(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

// Lines typed at the terminal since the last call; false once the terminal closed.
bool TypedLines(std::string& partial, std::vector<std::string>& lines) {
    pollfd entry{};
    entry.fd = STDIN_FILENO;
    entry.events = POLLIN;
    if (::poll(&entry, 1, 0) <= 0)
        return true;
    char buffer[1024];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0)
        return got < 0;
    for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] == '\n') {
            lines.push_back(partial);
            partial.clear();
        } else {
            partial += buffer[i];
        }
    }
    return true;
}

} // namespace

int RunMonitor(const TCliMonitorOptions& options) {
    TLineEnd end = TLineEnd::Lf;
    ParseLineEnd(options.Eol, end);
    const std::vector<std::string> ports = ResolvePorts(
        options.Port.empty() ? std::vector<std::string>{} : std::vector<std::string>{options.Port},
        false);
    TMonitorLog log;
    std::string error;
    if (!options.Log.empty() && !log.Open(options.Log, error)) {
        PrintCliError(error); // as program's --log: refused before the port is touched
        return CliExitUsage;
    }
    TComms port;
    TSerialMonitor monitor(port);
    if (!monitor.Open(ports.front(), options.Baud, error)) {
        PrintCliError("Cannot open " + ports.front() + ":\n" + error);
        return CliExitFailure;
    }
    monitor.Text().SetTimestamps(options.Timestamps);
    std::fprintf(stderr, "Monitoring %s at %d baud; Ctrl+C ends.\n", ports.front().c_str(),
                 options.Baud);
    InstallStopHandler();
    bool typing = ::isatty(STDIN_FILENO);
    std::string partial;
    bool hinted = false;
    while (!StopSignal) {
        // A reader that has gone (monitor | head -1) ends the monitor as Ctrl+C would.
        if (OutputGone())
            return CliExitOk;
        std::string shown;
        const bool alive = monitor.Poll(100, 64 * 1024, shown, error);
        if (!shown.empty()) {
            if (!Show(shown)) {
                if (errno == EPIPE)
                    return CliExitOk;
                PrintCliError(std::string("Cannot write the output: ") + std::strerror(errno));
                return CliExitFailure;
            }
            if (!hinted && monitor.Text().MostlyNotText()) {
                hinted = true;
                std::fprintf(stderr, "%s\n", NotTextHint(options.Baud).c_str());
            }
            if (log.IsOpen() && !log.Write(shown, error))
                PrintCliError(error);
        }
        if (!alive) {
            PrintCliError(LineLostText(ports.front(), error));
            return CliExitFailure;
        }
        std::vector<std::string> lines;
        if (typing)
            typing = TypedLines(partial, lines);
        for (const std::string& line : lines)
            if (!monitor.Send(line, end, error)) {
                PrintCliError("Cannot send to " + ports.front() + ":\n" + error);
                return CliExitFailure;
            }
    }
    return StopExitCode();
}

void AddMonitorCommand(TCliCommands& commands) {
    auto options = std::make_shared<TCliMonitorOptions>();
    CLI::App* command = commands.Add(
        {"monitor", "[--port PORT] [--baud N] [--timestamps] [--log FILE] [--eol lf|cr|crlf]",
         "show what the board's own program sends, and send it typed lines",
         "Prints the board's output as it comes: line ends (LF, CR or CR+LF) become new lines,\n"
         "other control characters show as ^X. Lines typed at a terminal go to the board with\n"
         "the chosen line end. Ctrl+C ends the monitor with exit code 0; a failed line ends it\n"
         "with exit code 1 and the system's reason.\n"
         "SIGTERM ends it with 143, SIGHUP with 129; an output that is closed (the reader of\n"
         "a pipe has gone) ends it at once with exit code 0.\n"},
        [options] { return RunMonitor(*options); });
    command->add_option("-p,--port", options->Port, "the port; default: the window's port")
        ->option_text("PORT");
    std::vector<int> speeds(MonitorSpeeds, MonitorSpeeds + MonitorSpeedCount);
    command->add_option("-b,--baud", options->Baud, "the program's speed (default 115200)")
        ->option_text("N")
        ->check(CLI::IsMember(speeds));
    command->add_flag("-t,--timestamps", options->Timestamps,
                      "start each line with the local time it arrived, to the millisecond");
    command->add_option("-l,--log", options->Log, "also write what is shown to FILE")
        ->option_text("FILE");
    command->add_option("--eol", options->Eol, "line end sent after a typed line (default lf)")
        ->option_text("lf|cr|crlf")
        ->check(CLI::IsMember({"lf", "cr", "crlf"}));
}

// --monitor's value is optional, so an image named right after it is taken for the speed: the
// refusal says which speeds there are and how to give the image.
std::string CheckMonitorSpeed(const std::string& value) {
    std::vector<int> speeds(MonitorSpeeds, MonitorSpeeds + MonitorSpeedCount);
    for (int speed : speeds)
        if (value == std::to_string(speed))
            return std::string();
    std::sort(speeds.begin(), speeds.end());
    std::string list;
    for (int speed : speeds)
        list += (list.empty() ? "" : ", ") + std::to_string(speed);
    return "'" + value + "' is not a speed (" + list +
           "); the image goes before --monitor, or after --monitor=BAUD";
}

void AddMonitorAfterOption(CLI::App* command, int& baud) {
    command
        ->add_option("--monitor", baud,
                     "then show what the board's program sends, at BAUD (default 115200)")
        ->option_text("[BAUD]")
        ->expected(0, 1)
        ->default_str("115200")
        ->check(CLI::Validator(CheckMonitorSpeed, "BAUD"));
}

int RunThenMonitor(const std::vector<std::string>& ports, int baud, std::function<int()> run) {
    std::vector<std::string> resolved;
    if (baud != 0) {
        resolved = ResolvePorts(ports, true);
        if (resolved.size() != 1)
            throw TCliUsageError("--monitor watches one board: give one --port");
    }
    const int result = run();
    if (result != CliExitOk || baud == 0)
        return result;
    TCliMonitorOptions options;
    options.Port = resolved.front();
    options.Baud = baud;
    return RunMonitor(options);
}
