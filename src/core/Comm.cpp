#include "Comm.h"

#include "LocalSerialPort.h"
#include "PortList.h"
#include "Rfc2217Port.h"

#include <QDeadlineTimer>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

const char* const DefaultPortSettings = "COM1:9600,N,8,1";

namespace {

// How long Write waits for earlier output to leave before it gives up, and, beyond the time the
// bytes take on the line, for its own to be handed over.
constexpr int DrainTimeoutMs = 2000;

QByteArray TrimmedBytes(const char* begin, const char* end) {
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    return QByteArray(begin, static_cast<int>(end - begin));
}

QString Trimmed(const char* begin, const char* end) {
    return QString::fromLocal8Bit(TrimmedBytes(begin, end));
}

// A positive decimal number of at most maxValue; false for anything else.
bool ParseDecimal(const QString& text, int maxValue, int& value) {
    if (text.isEmpty())
        return false;
    long long result = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        result = result * 10 + (c.unicode() - '0');
        if (result > maxValue)
            return false;
    }
    if (result <= 0)
        return false;
    value = static_cast<int>(result);
    return true;
}

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The time count bytes take on the line at a speed, 10 bits a byte.
int LineMs(unsigned count, int baudRate) {
    return static_cast<int>(static_cast<int64_t>(count) * 10 * 1000 / std::max(baudRate, 1));
}

} // namespace

bool ParsePortSettings(const char* text, TPortSettings& settings) {
    if (!text)
        return false;
    const char* colon = std::strrchr(text, ':');
    if (!colon)
        return false;
    TPortSettings parsed;
    parsed.DeviceBytes = TrimmedBytes(text, colon);
    parsed.Device = QString::fromLocal8Bit(parsed.DeviceBytes);
    if (parsed.Device.isEmpty())
        return false;

    QStringList fields;
    const char* start = colon + 1;
    for (const char* p = start;; ++p) {
        if (*p == ',' || *p == '\0') {
            fields << Trimmed(start, p);
            if (*p == '\0')
                break;
            start = p + 1;
        }
    }
    if (fields.size() > 4)
        return false;
    for (const QString& field : fields)
        if (field.isEmpty())
            return false;

    if (!ParseDecimal(fields[0], 4000000, parsed.BaudRate))
        return false;
    if (fields.size() > 1) {
        const QString parity = fields[1].toUpper();
        if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
            return false;
        parsed.Parity = parity[0].toLatin1();
    }
    if (fields.size() > 2) {
        if (!ParseDecimal(fields[2], 8, parsed.DataBits) || parsed.DataBits < 5)
            return false;
    }
    if (fields.size() > 3) {
        if (fields[3] == QLatin1String("1"))
            parsed.StopBits = 10;
        else if (fields[3] == QLatin1String("1.5"))
            parsed.StopBits = 15;
        else if (fields[3] == QLatin1String("2"))
            parsed.StopBits = 20;
        else
            return false;
    }
    settings = parsed;
    return true;
}

std::unique_ptr<TByteLine> MakeByteLine(const QString& device) {
    if (IsNetworkPortName(device))
        return std::make_unique<TRfc2217Port>();
    return std::make_unique<TLocalSerialPort>();
}

TComms::TComms() : BaudRate(9600), Lost(false) {}

TComms::TComms(const char* settings) : TComms() {
    Open(settings);
}

TComms::~TComms() {
    Close();
}

bool TComms::Open(const char* settings) {
    // Kept whole: a cut text would open another device, or the right one at a wrong speed.
    Settings = settings && *settings ? settings : DefaultPortSettings;
    Close();
    LastErrorText.clear();
    Lost = false;
    Abilities = TLineAbilities();
    ServerDevice.clear();

    TPortSettings line;
    if (!ParsePortSettings(Settings.c_str(), line)) {
        LastErrorText = QStringLiteral("The settings \"%1\" are not valid: expected "
                                       "port:baud,parity,data bits,stop bits.")
                            .arg(QString::fromLocal8Bit(Settings.c_str()));
        return false;
    }
    std::unique_ptr<TByteLine> opened = NewLine(line.Device);
    if (!opened->Open(line, OpenWait)) {
        LastErrorText = opened->Error();
        return false;
    }
    Line = std::move(opened);
    Abilities = Line->Abilities();
    if (Abilities.ThroughServer)
        ServerDevice = line.Device.toStdString();
    BaudRate = line.BaudRate;
    Meter.Start(line.BaudRate, Abilities.ThroughServer);
    // A real port starts empty when it is opened; a line whose other end stays open (a
    // pseudo-terminal, a driver that keeps its queue, a server's port) may still hold a late
    // answer to an earlier operation, which must not pass for the answer to this one.
    Line->Purge();
    Line->Drain(DrainTimeoutMs, {});
    return true;
}

void TComms::Close() {
    if (!Line)
        return;
    Line.reset();
    Meter.Finish();
}

bool TComms::IsOpen() const {
    return Line != nullptr;
}

bool TComms::Read(void* buffer, int count, int timeoutMs) {
    if (count <= 0)
        return count == 0 && IsOpen();
    char* bytes = static_cast<char*>(buffer);
    std::memset(bytes, 0, static_cast<size_t>(count));
    if (!IsOpen() || Lost)
        return false;

    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    int received = 0;
    for (;;) {
        const int wait = static_cast<int>(deadline.remainingTime());
        const int got = ReceiveSome(bytes + received, count - received, wait);
        if (got < 0)
            return false; // the line failed: keep whatever did arrive
        received += got;
        if (received == count)
            return true;
        if (deadline.hasExpired()) {
            // Once the time is up the driver is still asked once more, without waiting.
            const int last = ReceiveSome(bytes + received, count - received, 0);
            return last > 0 && received + last == count;
        }
    }
}

int TComms::ReadAvailable(void* buffer, int count, int timeoutMs) {
    if (!IsOpen() || Lost)
        return -1;
    if (count <= 0)
        return 0;
    return ReceiveSome(static_cast<char*>(buffer), count, std::max(timeoutMs, 0));
}

int TComms::ReceiveSome(char* bytes, int count, int timeoutMs) {
    const int got = Line->Receive(bytes, count, timeoutMs);
    if (got < 0) {
        NoteLost();
        return -1;
    }
    if (got > 0)
        Meter.Received(NowUs());
    return got;
}

void TComms::NoteLost() {
    if (Lost)
        return;
    Lost = true;
    LastErrorText = Line->Error();
}

bool TComms::CheckLine() {
    if (!Lost && Line && Line->CheckLost())
        NoteLost();
    return Lost;
}

uint8_t TComms::ReadByte(int timeoutMs) {
    uint8_t value = 0;
    return Read(&value, 1, timeoutMs) ? value : 0;
}

qint64 TComms::PendingOutput() const {
    return Line ? Line->PendingOutput() : 0;
}

bool TComms::Write(const void* buffer, unsigned count, const std::function<void()>& waitHook) {
    if (!Line || Lost)
        return false;
    const char* data = static_cast<const char*>(buffer);
    // Earlier output leaves first, so that a frame is never sent into the tail of another.
    if (!Line->Drain(DrainTimeoutMs, waitHook) ||
        !Line->Send(data, count, DrainTimeoutMs + LineMs(count, BaudRate), waitHook)) {
        CheckLine();
        return false;
    }
    Meter.Sent(NowUs(), count);
    return true;
}

bool TComms::WriteByte(uint8_t value) {
    return Write(&value, 1);
}

bool TComms::WaitTransmitted(int timeoutMs, const std::function<void()>& waitHook) {
    if (!Line || Lost)
        return false;
    const bool sent = Line->WaitSent(timeoutMs, waitHook);
    return !CheckLine() && sent;
}

int TComms::Purge() {
    if (!Line || Lost)
        return 0;
    return Line->Purge();
}

bool TComms::TakeDisturbed() {
    return Line && !Lost && Line->TakeDisturbed();
}

bool TComms::ChangeSpeed(const char* settings) {
    TPortSettings open, wanted;
    if (!Line || Lost || !Abilities.ChangesSpeedOpen || !settings ||
        !ParsePortSettings(Settings.c_str(), open) || !ParsePortSettings(settings, wanted) ||
        wanted.Device != open.Device || wanted.Parity != open.Parity ||
        wanted.DataBits != open.DataBits || wanted.StopBits != open.StopBits)
        return false;
    if (!Line->ChangeSpeed(wanted.BaudRate)) {
        CheckLine();
        return false;
    }
    Settings = settings;
    BaudRate = wanted.BaudRate;
    Meter.Start(wanted.BaudRate, Abilities.ThroughServer);
    return true;
}

int64_t TComms::ClockMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TComms::SleepMs(int ms) {
    QThread::msleep(static_cast<unsigned long>(std::max(ms, 0)));
}

bool TComms::PortExists(const char* device) {
    return device && SerialDeviceOpens(QString::fromLocal8Bit(device));
}
