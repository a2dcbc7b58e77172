#include "SerialMonitor.h"

#include "BootMonitor.h"
#include "Comm.h"
#include "LinkSpeed.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

const int MonitorSpeeds[MonitorSpeedCount] = {115200, 57600, 38400,  19200,  9600,  4800,
                                              2400,   1200,  230400, 460800, 921600};

bool IsMonitorSpeed(int speed) {
    return std::find(MonitorSpeeds, MonitorSpeeds + MonitorSpeedCount, speed) !=
           MonitorSpeeds + MonitorSpeedCount;
}

const char* LineEndName(TLineEnd end) {
    switch (end) {
    case TLineEnd::Cr:
        return "cr";
    case TLineEnd::CrLf:
        return "crlf";
    default:
        return "lf";
    }
}

bool ParseLineEnd(const std::string& name, TLineEnd& end) {
    for (TLineEnd candidate : {TLineEnd::Lf, TLineEnd::Cr, TLineEnd::CrLf})
        if (name == LineEndName(candidate)) {
            end = candidate;
            return true;
        }
    return false;
}

const char* LineEndBytes(TLineEnd end) {
    switch (end) {
    case TLineEnd::Cr:
        return "\r";
    case TLineEnd::CrLf:
        return "\r\n";
    default:
        return "\n";
    }
}

std::string TimestampText(int64_t msSinceEpoch) {
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::LocalTime);
    return time.toString(QStringLiteral("HH:mm:ss.zzz ")).toStdString();
}

int64_t MonitorNowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// ---- Text -------------------------------------------------------------------------------------

namespace {

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that cannot lead one.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

} // namespace

void TMonitorText::StartLine(std::string& out, int64_t msSinceEpoch) {
    if (InLine)
        return;
    InLine = true;
    LineBytes = 0;
    if (Timestamps)
        out += TimestampText(msSinceEpoch);
}

void TMonitorText::EndLine(std::string& out) {
    // A character cut off by the line end cannot be completed any more.
    if (!Pending.empty()) {
        const std::string cut = Pending;
        Pending.clear();
        for (unsigned char byte : cut) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
        }
    }
    out += '\n';
    InLine = false;
    ++Lines;
}

void TMonitorText::AddVisible(std::string& out, const char* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(data[i]);
        if (!Pending.empty()) {
            if (IsContinuation(byte)) {
                Pending += static_cast<char>(byte);
                if (Pending.size() == SequenceLength(static_cast<unsigned char>(Pending[0]))) {
                    out += Pending;
                    Pending.clear();
                }
                continue;
            }
            // An interrupted sequence: its bytes are shown as what they are.
            const std::string cut = Pending;
            Pending.clear();
            for (unsigned char lost : cut) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "<%02X>", lost);
                out += hex;
            }
        }
        if (byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
            out += static_cast<char>(byte);
        } else if (byte < 0x20) {
            out += '^';
            out += static_cast<char>(byte + 0x40);
        } else if (byte == 0x7F) {
            out += "^?";
        } else if (SequenceLength(byte) > 0) {
            Pending += static_cast<char>(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
        }
    }
}

std::string TMonitorText::Feed(const char* data, size_t count, int64_t msSinceEpoch) {
    std::string out;
    out.reserve(count + count / 8);
    CountText(data, count);
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        const char byte = data[i];
        if (byte == '\n' && AfterCr) {
            // The LF of a CR+LF: the CR already ended the line.
            AfterCr = false;
            start = i + 1;
            continue;
        }
        AfterCr = false;
        if (byte == '\n' || byte == '\r') {
            StartLine(out, msSinceEpoch);
            AddVisible(out, data + start, i - start);
            EndLine(out);
            AfterCr = byte == '\r';
            start = i + 1;
            continue;
        }
        StartLine(out, msSinceEpoch);
        if (++LineBytes >= MaxLineBytes) {
            AddVisible(out, data + start, i + 1 - start);
            EndLine(out);
            start = i + 1;
        }
    }
    if (start < count) {
        StartLine(out, msSinceEpoch);
        AddVisible(out, data + start, count - start);
    }
    return out;
}

std::string TMonitorText::Note(const std::string& note, int64_t msSinceEpoch) {
    std::string out;
    if (InLine)
        EndLine(out);
    AfterCr = false;
    StartLine(out, msSinceEpoch);
    out += note;
    EndLine(out);
    return out;
}

void TMonitorText::CountText(const char* data, size_t count) {
    Received += count;
    for (size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if ((byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\r' || byte == '\n')
            ++TextReceived;
    }
}

void TMonitorText::Reset() {
    InLine = false;
    AfterCr = false;
    LineBytes = 0;
    Pending.clear();
}

std::string KeepLastLines(const std::string& text, size_t maxLines, uint64_t& dropped) {
    const size_t ends = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    const size_t lines = ends + (!text.empty() && text.back() != '\n' ? 1 : 0);
    if (maxLines == 0 || lines <= maxLines)
        return text;
    size_t cut = 0;
    for (size_t skip = lines - maxLines; skip > 0; --skip)
        cut = text.find('\n', cut) + 1;
    dropped += lines - maxLines;
    return text.substr(cut);
}

// ---- Log --------------------------------------------------------------------------------------

TMonitorLog::~TMonitorLog() {
    Close();
}

bool TMonitorLog::Open(const std::string& path, std::string& error) {
    Close();
    // Without O_NONBLOCK the open of a FIFO waits for a reader, for ever; once open, writes
    // may wait for the reader as any output does.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    File = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!File) {
        const int code = errno;
        if (fd >= 0)
            ::close(fd);
        error = "Cannot write the log " + path + ": " + std::strerror(code) +
                (code == ENXIO ? " (a FIFO that nothing reads)" : "");
        return false;
    }
    Path = path;
    return true;
}

void TMonitorLog::Close() {
    if (File)
        std::fclose(File);
    File = nullptr;
}

bool TMonitorLog::Write(const std::string& text, std::string& error) {
    if (!File)
        return false;
    if (text.empty())
        return true;
    if (std::fwrite(text.data(), 1, text.size(), File) != text.size() || std::fflush(File) != 0) {
        error = "Cannot write the log " + Path + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

// ---- Port -------------------------------------------------------------------------------------

bool TSerialMonitor::Open(const std::string& device, int speed, std::string& error) {
    Close();
    if (!IsMonitorSpeed(speed)) {
        error = std::to_string(speed) + " is not one of the monitor's speeds";
        return false;
    }
    if (!Port.Open(PortSettingsText(device, speed).c_str())) {
        error = Port.LastError().toStdString();
        if (error.empty())
            error = "Cannot open " + device;
        return false;
    }
    Formatter.Reset();
    return true;
}

void TSerialMonitor::Close() {
    Port.Close();
}

bool TSerialMonitor::IsOpen() const {
    return Port.IsOpen();
}

bool TSerialMonitor::Poll(int timeoutMs, size_t maxBytes, std::string& shown, std::string& error) {
    char buffer[4096];
    size_t total = 0;
    int wait = timeoutMs;
    while (total < maxBytes) {
        const int want = static_cast<int>(std::min(sizeof buffer, maxBytes - total));
        const int got = Port.ReadAvailable(buffer, want, wait);
        if (got < 0) {
            error = Port.LastError().toStdString();
            if (error.empty())
                error = "The port stopped answering";
            return false;
        }
        if (got == 0)
            break;
        shown += Formatter.Feed(buffer, static_cast<size_t>(got), MonitorNowMs());
        total += static_cast<size_t>(got);
        wait = 0;
    }
    return true;
}

bool TSerialMonitor::Send(const std::string& line, TLineEnd end, std::string& error) {
    const std::string bytes = line + LineEndBytes(end);
    if (!Port.Write(bytes.data(), static_cast<unsigned>(bytes.size()))) {
        error = Port.LastError().toStdString();
        if (error.empty())
            error = "The line could not be sent";
        return false;
    }
    return true;
}
