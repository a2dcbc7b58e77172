// korvex-boardsim: a simulated evaluation board on a pseudo-terminal, for trying Korvex and
// korvex-cli without hardware.
#include "BoardSim.h"
#include "LinkSpeed.h"
#include "PortAnnouncement.h"
#include "SerialMonitor.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

const char* const Usage =
    R"(Usage: korvex-boardsim [options]

Simulates the boot monitor of an AT91 evaluation board on a pseudo-terminal. Prints the
port's device path on the first line of its output, then answers on it until interrupted
(Ctrl+C). While it runs, the port is announced so that Korvex and "korvex-cli ports" list it.

Board:
  --type NAME        factory board type: EB40, EB40A (default), EB42, EB55 or EB63
  --board ROW        own definition "NAME=sectors;protect;SRAM size;flash start",
                     e.g. "Demo=8x8K,2x32K;;0004 0000;0100 0000"
  --mode MODE        flash (default): flash programming mode, answers synchronisation,
                     R, E, W/D and V; sram: SRAM uploading mode, stores what it receives;
                     app: the board runs its own program (below) from the start
  --speeds LIST      the only link speeds the board answers at, e.g. 115200 or 19200,9600;
                     each one of 115200, 57600, 38400, 19200, 9600, 4800, 2400 or 1200
                     (default: all eight)

Identity (hexadecimal values):
  --clock HZ         master clock in Hz; the clock divisor shown is clock / (16 x speed)
                     (default 48000000, which gives 26 at 115200)
  --chip XX          chip type (default 01)
  --flash-code XXXX  flash code (default 0020)
  --monitor-version XXXX
                     monitor version (default 0101)
  --base XXXXXXXX    base address (default: the type's flash start)

Faults (repeatable):
  --fault KIND[#N][@A[-B]]=ACTION
      KIND    sync (the identity), ack (the answer to 'A'), R, E, W, D or V
      #N      only the N-th of that kind since synchronisation, from 0; default all.
              sync, ack, E and D count the accepted ones, so the host's retries are
              further attempts of the same one; R, W and V count every frame
      @A-B    only attempts A to B, from 1; default all
      ACTION  silent       no answer
              byte:XX      answer XX instead (identity and read reply: XX as first byte)
              flash:XX     answer 'F' and the error code XX
              badsum       read reply with a wrong checksum
              short:N      only the first N bytes of the identity or read reply
              late:MS      the answer MS milliseconds late
              extra:XX..   the answer followed by the bytes XX..
              flood:XX     the answer followed by XX without end
              stray:XX[:MS]  XX at once, then the answer MS (100) milliseconds late
              flash        answer 'F' with no error code after it
              lost         carried out, but the answer never arrives: a data block is
                           written and the pointer moves on; the resend is an attempt
  --fault silent-after:N   answer N frames, then nothing
  --fault hangup-after:N   answer N frames (SRAM mode: take N bytes), then hang up the line
  Examples: --fault sync=silent (no identity), --fault sync=byte:41 (wrong first byte),
            --fault ack=byte:15, --fault 'D#2@1-2=byte:4E', --fault D#0=flash:02

The board's own program (app mode, or a flash board after --run-after):
  prints a banner, then "tick N" every second, and echoes each line it receives. The
  host's synchronisation byte puts the board back into its boot monitor, flash kept; the
  program starts again when a host next opens the port only to listen.
  --app-speed BAUD   the program's speed (default 115200): one of the link speeds or
                     230400, 460800, 921600; a host at another speed reads garbage
  --banner TEXT      the banner's first line (default "<type> demo program")
  --line-end END     what ends the program's lines: lf, cr or crlf (default crlf)
  --flood            numbered lines without pause instead of the ticks
  --run-after MS     flash mode: after a programming or erase, run the program once a host
                     opens the port and sends nothing for MS (at least 300), as a board
                     on a USB adapter reset into its new program would

Other:
  --line-rate        answers take as long as they would on a real line (10 bits a byte);
                     SRAM data and the program's output go no faster than the line either
  --turnaround MS    each answer leaves MS milliseconds late, as a USB adapter's latency
                     timer holds received bytes (0 to 1000; default 0)
  --quiet            do not print the frames received
  --save FILE        in SRAM mode, write the bytes received to FILE on exit
  --no-announce      do not announce the port
  --help             this text
  --version          the program's version
)";

bool Hex(const char* text, uint32_t limit, uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 16);
    if (!*text || *end || parsed > limit)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// A board's monitor answers only at the host's link speeds; any other would never be tried.
bool IsLinkSpeed(long speed) {
    return std::find(BaudRates, BaudRates + BaudRateCount, speed) != BaudRates + BaudRateCount;
}

// "115200, 57600, ... or 1200", for the message that refuses a speed.
std::string LinkSpeedList() {
    std::string list = std::to_string(BaudRates[0]);
    for (int i = 1; i < BaudRateCount; ++i) {
        list += i + 1 < BaudRateCount ? ", " : " or ";
        list += std::to_string(BaudRates[i]);
    }
    return list;
}

bool Speeds(const std::string& text, std::vector<int>& speeds) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        char* end = nullptr;
        const long speed = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || !IsLinkSpeed(speed))
            return false;
        speeds.push_back(static_cast<int>(speed));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return !speeds.empty();
}

std::string Describe(const TFrameRecord& frame) {
    std::string text = FrameKindName(frame.Kind);
    char part[64];
    std::snprintf(part, sizeof part, " at %d:", frame.Speed);
    text += part;
    const size_t shown = std::min<size_t>(frame.Bytes.size(), 16);
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(part, sizeof part, " %02X", frame.Bytes[i]);
        text += part;
    }
    // SRAM data and noise go on filling their record after it is printed: no count for them.
    const bool growing = frame.Kind == TFrameKind::Sram || frame.Ignored;
    if (frame.Bytes.size() > shown && growing) {
        text += " ...";
    } else if (frame.Bytes.size() > shown) {
        std::snprintf(part, sizeof part, " ... (%zu bytes)", frame.Bytes.size());
        text += part;
    }
    if (frame.Ignored)
        text += "  [ignored: speed not accepted or not synchronised]";
    else if (!frame.Complete)
        text += "  [incomplete, dropped]";
    else if (frame.Reply.empty())
        text += frame.Kind == TFrameKind::Sram ? "" : "  -> no answer";
    else {
        text += "  ->";
        const size_t answer = std::min<size_t>(frame.Reply.size(), 16);
        for (size_t i = 0; i < answer; ++i) {
            std::snprintf(part, sizeof part, " %02X", frame.Reply[i]);
            text += part;
        }
        if (frame.Reply.size() > answer)
            text += " ...";
    }
    return text;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "korvex-boardsim: %s\n", message.c_str());
    return 2;
}

// A CLI11 check that runs the parser of an option value: the message on a refusal.
std::function<std::string(const std::string&)> Check(std::function<bool(const std::string&)> parse,
                                                     std::string message) {
    return
        [parse, message](const std::string& text) { return parse(text) ? std::string() : message; };
}

std::function<bool(const std::string&)> HexCheck(uint32_t limit) {
    return [limit](const std::string& text) {
        uint32_t value = 0;
        return Hex(text.c_str(), limit, value);
    };
}

uint32_t HexValue(const std::string& text) {
    uint32_t value = 0;
    Hex(text.c_str(), 0xFFFFFFFF, value);
    return value;
}

// What the command line asks for; the board's configuration is built from it once it is read.
struct TOptions {
    std::string Type = "EB40A", Board, Mode = "flash", Speeds, Clock;
    std::string Chip, FlashCode, MonitorVersion, Base, SaveFile;
    int AppSpeed = 115200, RunAfterMs = -1, TurnaroundMs = 0;
    std::string Banner, LineEnd = "crlf";
    bool Flood = false;
    std::vector<std::string> Faults;
    bool LineRate = false, Quiet = false, NoAnnounce = false, Help = false, Version = false;
};

// An option given twice takes the last value, as it always has.
template <typename T> CLI::Option* AddLastValue(CLI::App& app, const char* name, T& value) {
    return app.add_option(name, value)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void AddBoardOptions(CLI::App& app, TOptions& options) {
    AddLastValue(app, "--type", options.Type)
        ->check(Check(
            [](const std::string& name) {
                TBoardType type;
                return BuiltInBoardType(name, type);
            },
            "unknown board type; use EB40, EB40A, EB42, EB55 or EB63"));
    AddLastValue(app, "--board", options.Board)->check([](const std::string& row) {
        TBoardType type;
        std::string error;
        return ParseBoardRow(row, type, error) ? std::string()
                                               : "invalid --board definition: " + error;
    });
    AddLastValue(app, "--mode", options.Mode)
        ->check(Check(
            [](const std::string& mode) {
                return mode == "flash" || mode == "sram" || mode == "app";
            },
            "--mode takes flash, sram or app"));
}

// The board's own program.
void AddProgramOptions(CLI::App& app, TOptions& options) {
    AddLastValue(app, "--app-speed", options.AppSpeed)
        ->check(
            Check([](const std::string& text) { return IsMonitorSpeed(std::atoi(text.c_str())); },
                  "--app-speed takes 115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200, "
                  "230400, 460800 or 921600"));
    AddLastValue(app, "--banner", options.Banner);
    AddLastValue(app, "--line-end", options.LineEnd)
        ->check(Check(
            [](const std::string& end) { return end == "lf" || end == "cr" || end == "crlf"; },
            "--line-end takes lf, cr or crlf"));
    app.add_flag("--flood", options.Flood);
    AddLastValue(app, "--run-after", options.RunAfterMs)->check(CLI::Range(0, 3600000));
}

// The link speeds the board answers at and the identity it answers synchronisation with.
void AddIdentityOptions(CLI::App& app, TOptions& options) {
    AddLastValue(app, "--speeds", options.Speeds)
        ->check(Check(
            [](const std::string& text) {
                std::vector<int> speeds;
                return Speeds(text, speeds);
            },
            "--speeds takes link speeds separated by commas, each one of " + LinkSpeedList()));
    AddLastValue(app, "--clock", options.Clock)
        ->check(Check(
            [](const std::string& text) {
                char* end = nullptr;
                const unsigned long clock = std::strtoul(text.c_str(), &end, 10);
                return !text.empty() && !*end && clock != 0 && clock <= 0xFFFFFFFFul;
            },
            "--clock takes a frequency in Hz"));
    AddLastValue(app, "--chip", options.Chip)
        ->check(Check(HexCheck(0xFF), "--chip takes a hexadecimal byte"));
    AddLastValue(app, "--flash-code", options.FlashCode)
        ->check(Check(HexCheck(0xFFFF), "--flash-code takes a hexadecimal 16-bit value"));
    AddLastValue(app, "--monitor-version", options.MonitorVersion)
        ->check(Check(HexCheck(0xFFFF), "--monitor-version takes a hexadecimal 16-bit value"));
    AddLastValue(app, "--base", options.Base)
        ->check(Check(HexCheck(0xFFFFFFFF), "--base takes a hexadecimal address"));
}

// Faults, and how the board runs and reports.
void AddOtherOptions(CLI::App& app, TOptions& options) {
    app.add_option("--fault", options.Faults)
        ->allow_extra_args(false)
        ->check([](const std::string& text) {
            TFaultPlan plan;
            std::string error;
            return ParseFault(text, plan, error) ? std::string() : "invalid --fault: " + error;
        });
    app.add_flag("--line-rate", options.LineRate);
    AddLastValue(app, "--turnaround", options.TurnaroundMs)->check(CLI::Range(0, 1000));
    app.add_flag("--quiet", options.Quiet);
    AddLastValue(app, "--save", options.SaveFile);
    app.add_flag("--no-announce", options.NoAnnounce);
}

void AddOptions(CLI::App& app, TOptions& options) {
    app.set_help_flag();
    app.add_flag("-h,--help", options.Help);
    app.add_flag("--version", options.Version);
    AddBoardOptions(app, options);
    AddProgramOptions(app, options);
    AddIdentityOptions(app, options);
    AddOtherOptions(app, options);
}

// The board the options describe; every value was checked while the command line was read.
TBoardConfig ConfigOf(const TOptions& options) {
    TBoardConfig config;
    BuiltInBoardType(options.Type, config.Type);
    std::string error;
    if (!options.Board.empty())
        ParseBoardRow(options.Board, config.Type, error);
    config.Mode = options.Mode == "sram" ? TBoardMode::Sram : TBoardMode::Flash;
    if (!options.Speeds.empty()) {
        config.AcceptedSpeeds.clear();
        Speeds(options.Speeds, config.AcceptedSpeeds);
    }
    if (!options.Clock.empty())
        config.MasterClock =
            static_cast<uint32_t>(std::strtoul(options.Clock.c_str(), nullptr, 10));
    if (!options.Chip.empty())
        config.Identity.ChipType = static_cast<uint8_t>(HexValue(options.Chip));
    if (!options.FlashCode.empty())
        config.Identity.FlashCode = static_cast<uint16_t>(HexValue(options.FlashCode));
    if (!options.MonitorVersion.empty())
        config.Identity.Version = static_cast<uint16_t>(HexValue(options.MonitorVersion));
    config.Identity.BaseAddress =
        options.Base.empty() ? config.Type.FlashStart : HexValue(options.Base);
    for (const std::string& fault : options.Faults)
        ParseFault(fault, config.Faults, error);
    config.LineRate = options.LineRate;
    config.TurnaroundMs = options.TurnaroundMs;
    return config;
}

TProgramConfig ProgramOf(const TOptions& options, const TBoardConfig& board) {
    TProgramConfig program;
    program.Speed = options.AppSpeed;
    program.Banner = {options.Banner.empty() ? board.Type.Name + " demo program" : options.Banner,
                      "Simulated by korvex-boardsim; lines typed here are echoed."};
    program.LineEnd = options.LineEnd == "lf" ? "\n" : options.LineEnd == "cr" ? "\r" : "\r\n";
    program.Flood = options.Flood;
    return program;
}

// Reads the command line; the exit code when the program ends there (a refusal, --help or
// --version), nothing when the board is to run.
std::optional<int> ReadCommandLine(CLI::App& app, TOptions& options, int argc, char** argv) {
    AddOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // A refused value's message is the check's own; CLI11 puts the option's name before it.
        std::string message = error.what();
        const size_t own = message.find(": ");
        if (error.get_name() == "ValidationError" && own != std::string::npos)
            message.erase(0, own + 2);
        return Fail(message + " (see --help)");
    }
    if (options.Help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (options.Version) {
        std::printf("korvex-boardsim %s\n", KORVEX_VERSION);
        return 0;
    }
    return std::nullopt;
}

// The signals that stop the program, blocked here so that only the sigwait in WaitForStop
// sees them: the board's thread, started later, inherits the mask.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

// Gives the board its program and the printing of frames the options ask for, and starts it;
// false with the reason.
bool StartBoard(TBoardSim& board, const TOptions& options, const TBoardConfig& config,
                std::string& error) {
    const bool appMode = options.Mode == "app";
    if (appMode || options.RunAfterMs >= 0)
        board.SetProgram(ProgramOf(options, config), appMode, std::max(options.RunAfterMs, 0));
    if (!options.Quiet)
        board.SetFrameObserver([](const TFrameRecord& frame) {
            std::fprintf(stderr, "%s\n", Describe(frame).c_str());
        });
    return board.Start(&error);
}

// The name the port is announced under, e.g. "EB40A-flash-boardsim".
std::string AnnouncedName(const TBoardConfig& config, bool appMode) {
    return config.Type.Name +
           (appMode                           ? "-app"
            : config.Mode == TBoardMode::Sram ? "-sram"
                                              : "-flash") +
           "-boardsim";
}

// Says which board runs where, announces its port (unless --no-announce) and prints the port's
// path last, so that whoever reads the path finds the board ready and announced.
void Announce(const TBoardSim& board, const TOptions& options, const TBoardConfig& config,
              const std::string& announcedName, TPortAnnouncement& announcement) {
    const char* mode = options.Mode == "app"              ? "program (app)"
                       : config.Mode == TBoardMode::Flash ? "flash programming"
                                                          : "SRAM uploading";
    std::fprintf(stderr, "Simulated %s board in %s mode on %s\n", config.Type.Name.c_str(), mode,
                 board.PortPath().c_str());
    std::string error;
    if (!options.NoAnnounce) {
        if (announcement.Announce(announcedName, board.PortPath(), &error))
            std::fprintf(stderr, "Announced as %s\n", announcement.LinkPath().c_str());
        else
            std::fprintf(stderr, "korvex-boardsim: not announced: %s\n", error.c_str());
    }
    std::printf("%s\n", board.PortPath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "Press Ctrl+C to stop.\n");
}

void WaitForStop(const sigset_t& stopSignals) {
    int received = 0;
    sigwait(&stopSignals, &received);
}

// Prints what an SRAM board received and, with --save, writes it to the file; the exit code.
int ReportSram(const TBoardSim& board, const std::string& saveFile) {
    const std::vector<uint8_t> data = board.SramData();
    uint32_t sum = 0;
    for (uint8_t byte : data)
        sum += byte;
    std::fprintf(stderr, "SRAM received %zu bytes, sum 0x%08X\n", data.size(), sum);
    if (saveFile.empty())
        return 0;
    std::ofstream out(saveFile, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return out ? 0 : Fail("cannot write " + saveFile);
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    CLI::App app("korvex-boardsim", "korvex-boardsim");
    if (const std::optional<int> exitCode = ReadCommandLine(app, options, argc, argv))
        return *exitCode;
    const TBoardConfig config = ConfigOf(options);
    const sigset_t stopSignals = BlockStopSignals();

    TBoardSim board(config);
    std::string error;
    if (!StartBoard(board, options, config, error))
        return Fail(error);
    TPortAnnouncement announcement;
    Announce(board, options, config, AnnouncedName(config, options.Mode == "app"), announcement);

    WaitForStop(stopSignals);
    announcement.Withdraw();
    board.Stop();
    return config.Mode == TBoardMode::Sram ? ReportSram(board, options.SaveFile) : 0;
}
