#include "CliConsole.h"

#include "TransferRate.h"

#include <QJsonDocument>

#include <algorithm>
#include <cmath>
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
    EraseDrawn(!StatusOnStderr);
    Put(StatusOnStderr, text);
}

void TCliConsole::KeepStdoutForData() {
    std::lock_guard<std::mutex> guard(Lock);
    StatusOnStderr = true;
}

void TCliConsole::Write(bool toStderr, const std::string& prefix, const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Quiet && !toStderr)
        return;
    toStderr = toStderr || StatusOnStderr;
    EraseDrawn(!toStderr);
    std::string block;
    for (const std::string& line : SplitLines(text)) {
        // Among the lines of several boards a blank one, as between a message's paragraphs,
        // would only show the port's name.
        if (line.empty() && !prefix.empty())
            continue;
        block += prefix + line + "\n";
    }
    Put(toStderr, block);
    Draw(true);
}

void TCliConsole::Put(bool toStderr, const std::string& text) {
    // Once the reader of stdout has gone (korvex-cli ... | head -1) the operation goes on, and
    // the exit code tells how it ended; what it would have printed goes nowhere.
    if (!toStderr && StdoutClosed)
        return;
    FILE* stream = toStderr ? stderr : stdout;
    std::fputs(text.c_str(), stream);
    if (std::fflush(stream) != 0 && !toStderr)
        StdoutClosed = true;
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
    // From the first column: the terminal's echo of ^C may have moved the cursor on.
    std::fprintf(stderr, "\r\x1b[%dA\x1b[J", Drawn);
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

namespace {

// The length of the UTF-8 character at text[at], or 0 when no valid one starts there.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    size_t length;
    unsigned lowest, code;
    if ((lead & 0xE0) == 0xC0)
        length = 2, lowest = 0x80, code = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, lowest = 0x800, code = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, lowest = 0x10000, code = lead & 0x07;
    else
        return 0;
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are no characters.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString JsonText(const std::string& text, bool* escaped) {
    bool valid = true;
    for (size_t at = 0; valid && at < text.size();) {
        const size_t length = Utf8Length(text, at);
        valid = length != 0;
        at += length;
    }
    if (escaped)
        *escaped = !valid;
    if (valid)
        return QString::fromStdString(text);
    std::string safe;
    for (size_t at = 0; at < text.size();) {
        const size_t length = Utf8Length(text, at);
        if (length == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[at]));
            safe += hex;
            ++at;
        } else {
            safe += text[at] == '\\' ? std::string("\\\\") : text.substr(at, length);
            at += length;
        }
    }
    return QString::fromStdString(safe);
}

void TJsonFields::AddString(const char* key, const std::string& value) {
    bool escaped = false;
    Fields.insert(QLatin1String(key), JsonText(value, &escaped));
    if (escaped)
        Fields.insert(QLatin1String(key) + QLatin1String("_escaped"), true);
}

void TJsonFields::AddNumber(const char* key, int64_t value) {
    Fields.insert(QLatin1String(key), static_cast<qint64>(value));
}

void TJsonFields::AddNumber(const char* key, double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    Fields.insert(QLatin1String(key), std::round(value * scale) / scale);
}

void TJsonFields::Add(const char* key, const QJsonValue& value) {
    Fields.insert(QLatin1String(key), value);
}

void TJsonFields::AddAll(const TJsonFields& other) {
    for (auto field = other.Fields.begin(); field != other.Fields.end(); ++field)
        Fields.insert(field.key(), field.value());
}

std::string TJsonFields::Text() const {
    return QJsonDocument(Fields).toJson(QJsonDocument::Compact).toStdString();
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

std::string OneLine(const std::string& text) {
    std::string line;
    for (const char ch : text) {
        if (ch != '\n')
            line += ch;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}
