#include "CliConsole.h"

#include "TransferRate.h"

#include <algorithm>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Redraws at most this often; a terminal gains nothing from more.
constexpr auto DrawInterval = std::chrono::milliseconds(100);

int TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size() || lines.empty())
                lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

TCliConsole& TCliConsole::Instance() {
    static TCliConsole console;
    return console;
}

void TCliConsole::Configure(bool quiet, bool progress) {
    std::lock_guard<std::mutex> guard(Lock);
    Quiet = quiet;
    ShowProgress = progress && !quiet && isatty(STDERR_FILENO);
    StdoutIsTerminal = isatty(STDOUT_FILENO);
}

void TCliConsole::Out(const std::string& prefix, const std::string& text) {
    Write(false, prefix, text);
}

void TCliConsole::Err(const std::string& prefix, const std::string& text) {
    Write(true, prefix, text);
}

void TCliConsole::Raw(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    EraseDrawn(true);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void TCliConsole::Write(bool toStderr, const std::string& prefix, const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Quiet && !toStderr)
        return;
    EraseDrawn(!toStderr);
    FILE* stream = toStderr ? stderr : stdout;
    std::string block;
    for (const std::string& line : SplitLines(text))
        block += prefix + line + "\n";
    std::fputs(block.c_str(), stream);
    std::fflush(stream);
    Draw(true);
}

int TCliConsole::AddProgress(const std::string& label) {
    std::lock_guard<std::mutex> guard(Lock);
    Lines.push_back({label, std::string(), 0, 0, TClock::now()});
    return static_cast<int>(Lines.size()) - 1;
}

void TCliConsole::SetPhase(int slot, const std::string& phase) {
    std::lock_guard<std::mutex> guard(Lock);
    if (slot < 0 || slot >= static_cast<int>(Lines.size()))
        return;
    TProgressLine& line = Lines[static_cast<size_t>(slot)];
    line.Phase = phase;
    line.Done = line.Total = 0;
    line.PhaseStart = TClock::now();
    Draw(true);
}

void TCliConsole::SetProgress(int slot, int64_t done, int64_t total) {
    std::lock_guard<std::mutex> guard(Lock);
    if (slot < 0 || slot >= static_cast<int>(Lines.size()))
        return;
    TProgressLine& line = Lines[static_cast<size_t>(slot)];
    line.Done = done;
    line.Total = total;
    Draw(done >= total);
}

void TCliConsole::EndProgress() {
    std::lock_guard<std::mutex> guard(Lock);
    EraseDrawn(false);
    ShowProgress = false;
}

void TCliConsole::EraseDrawn(bool beforeStdout) {
    // Text for a stdout that is not the terminal does not disturb the lines drawn there.
    if (Drawn == 0 || (beforeStdout && !StdoutIsTerminal))
        return;
    std::fprintf(stderr, "\x1b[%dA\x1b[J", Drawn);
    std::fflush(stderr);
    Drawn = 0;
}

void TCliConsole::Draw(bool force) {
    if (!ShowProgress || Lines.empty())
        return;
    const TClock::time_point now = TClock::now();
    if (!force && Drawn > 0 && now - LastDraw < DrawInterval)
        return;
    LastDraw = now;
    const int width = TerminalWidth();
    std::string screen;
    if (Drawn > 0)
        screen += "\x1b[" + std::to_string(Drawn) + "A";
    for (const TProgressLine& line : Lines)
        screen += "\r" + Render(line, width) + "\x1b[K\n";
    std::fputs(screen.c_str(), stderr);
    std::fflush(stderr);
    Drawn = static_cast<int>(Lines.size());
}

std::string TCliConsole::Render(const TProgressLine& line, int width) const {
    size_t labelWidth = 0;
    for (const TProgressLine& other : Lines)
        labelWidth = std::max(labelWidth, other.Label.size());
    std::string text = line.Label;
    text.resize(labelWidth, ' ');
    char figures[128];
    if (line.Total <= 0) {
        std::snprintf(figures, sizeof figures, "  %s", line.Phase.c_str());
    } else {
        const double seconds =
            std::chrono::duration<double>(TClock::now() - line.PhaseStart).count();
        const int percent = static_cast<int>(line.Done * 100 / line.Total);
        const std::string rate =
            seconds > 0.05 ? TransferRateText(line.Done, line.Total, seconds * 1000) : "";
        std::snprintf(figures, sizeof figures, "  %-12s %3d%%  %s", line.Phase.c_str(), percent,
                      rate.c_str());
    }
    text += figures;
    // A line wider than the terminal would wrap and spoil the redraw.
    if (width > 1 && static_cast<int>(text.size()) >= width)
        text.resize(static_cast<size_t>(width - 1));
    return text;
}

// ---- JSON ---------------------------------------------------------------------------------

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const char ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"':
            json += "\\\"";
            break;
        case '\\':
            json += "\\\\";
            break;
        case '\n':
            json += "\\n";
            break;
        case '\r':
            json += "\\r";
            break;
        case '\t':
            json += "\\t";
            break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                json += escaped;
            } else {
                json += ch;
            }
        }
    }
    return json + "\"";
}

void TJsonObject::Key(const char* key) {
    if (!Body.empty())
        Body += ",";
    Body += JsonString(key) + ":";
}

void TJsonObject::AddString(const char* key, const std::string& value) {
    Key(key);
    Body += JsonString(value);
}

void TJsonObject::AddNumber(const char* key, int64_t value) {
    Key(key);
    Body += std::to_string(value);
}

void TJsonObject::AddNumber(const char* key, double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    Key(key);
    Body += text;
}

void TJsonObject::AddBool(const char* key, bool value) {
    Key(key);
    Body += value ? "true" : "false";
}

void TJsonObject::AddRaw(const char* key, const std::string& value) {
    Key(key);
    Body += value;
}

void TJsonObject::AddAll(const TJsonObject& other) {
    if (other.Body.empty())
        return;
    if (!Body.empty())
        Body += ",";
    Body += other.Body;
}

// ---- Terminal-safe text ---------------------------------------------------------------------

std::string EscapeControlCharacters(const std::string& text) {
    std::string safe;
    safe.reserve(text.size());
    for (const char ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte != 0x7F) {
            safe += ch;
        } else if (ch == '\r') {
            safe += "\\r";
        } else if (ch == '\t') {
            safe += "\\t";
        } else if (ch == '\n') {
            safe += "\\n";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            safe += escaped;
        }
    }
    return safe;
}
