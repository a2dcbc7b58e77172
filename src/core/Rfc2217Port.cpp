#include "Rfc2217Port.h"

#include <QDeadlineTimer>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <algorithm>

#ifndef _WIN32
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// Telnet (RFC 854, 855) and its options.
constexpr uint8_t Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;
constexpr uint8_t BinaryOption = 0, SuppressGoAhead = 3, ComPortOption = 44;
// COM-PORT-OPTION commands from the client; the server answers each with the command + 100.
constexpr uint8_t SetBaudrate = 1, SetDatasize = 2, SetParity = 3, SetStopsize = 4, PurgeData = 12;
constexpr uint8_t ServerReply = 100;
// PURGE-DATA: the server's buffer of what its port received.
constexpr uint8_t PurgeReceived = 1;

// How long a server that turns connections away is asked again, and the pause between.
constexpr int BusyRetryMs = 1000;
constexpr int RetryPauseMs = 50;
// The longest single wait: short, so that a caller's time-outs and hooks keep their pace.
constexpr int SliceMs = 20;
// A subnegotiation longer than this is no answer this side waits for; the rest is dropped.
constexpr int MaxSubnegotiation = 64;

bool WantedHere(uint8_t option) {
    return option == BinaryOption || option == SuppressGoAhead || option == ComPortOption;
}

bool WantedThere(uint8_t option) {
    return option == BinaryOption || option == SuppressGoAhead;
}

uint8_t ParityCode(char parity) {
    switch (parity) {
    case 'O':
        return 2;
    case 'E':
        return 3;
    case 'M':
        return 4;
    case 'S':
        return 5;
    default:
        return 1;
    }
}

uint8_t StopCode(int tenths) {
    return tenths == 20 ? 2 : tenths == 15 ? 3 : 1;
}

QByteArray BigEndian32(uint32_t value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (24 - 8 * i));
    return bytes;
}

// Doubles every 0xFF, which Telnet would take for the start of a command.
QByteArray Escaped(const char* data, qsizetype count) {
    QByteArray out;
    out.reserve(count + 8);
    for (qsizetype i = 0; i < count; ++i) {
        out.append(data[i]);
        if (static_cast<uint8_t>(data[i]) == Iac)
            out.append(data[i]);
    }
    return out;
}

// The server answers each purge at once; left unacknowledged, that answer would make it hold
// the board's answer back (Nagle) until this side's delayed acknowledgement, 40 ms a frame.
void AcknowledgePromptly(qintptr handle) {
#if defined(TCP_QUICKACK)
    const int on = 1;
    (void)::setsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)handle;
#endif
}

int64_t LineMicroseconds(qint64 bytes, int baudRate) {
    return bytes * 10 * 1000000 / std::max(baudRate, 1);
}

} // namespace

bool IsNetworkPortName(const QString& name) {
    return name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive);
}

TRfc2217Port::TRfc2217Port() {
    Clock.start();
}

TRfc2217Port::~TRfc2217Port() = default;

bool TRfc2217Port::Open(const TPortSettings& line) {
    Name = line.Device;
    BaudRate = line.BaudRate;
    const QUrl url(Name, QUrl::StrictMode);
    const bool plain = url.isValid() && url.userInfo().isEmpty() && !url.hasQuery() &&
                       !url.hasFragment() && (url.path().isEmpty() || url.path() == "/");
    if (!plain || url.host().isEmpty() || url.port() <= 0) {
        ErrorText =
            QStringLiteral("%1 is not a network port: expected rfc2217://HOST:PORT.").arg(Name);
        return false;
    }
    Host = url.host();
    TcpPort = static_cast<quint16>(url.port());
    // A server still closing this side's previous connection (the port closed and opened again
    // at the next speed) turns the next one away for a moment: it is asked again.
    QDeadlineTimer busy(BusyRetryMs);
    for (;;) {
        if (!Connect())
            return false;
        if (AgreeOnOption() && SetLine(line))
            break;
        if (!ConnectionLost || busy.hasExpired())
            return false;
        StartAfresh();
        QThread::msleep(RetryPauseMs);
    }
    return true;
}

void TRfc2217Port::StartAfresh() {
    Socket.reset();
    Decoded.clear();
    State = TTelnet::Data;
    Sub.clear();
    Local.fill(TOption::Off);
    Remote.fill(TOption::Off);
    Refused = false;
    ConnectionLost = false;
    ErrorText.clear();
}

bool TRfc2217Port::Connect() {
    Socket = std::make_unique<QTcpSocket>();
    Socket->setProxy(QNetworkProxy::NoProxy);
    Socket->connectToHost(Host, TcpPort);
    if (Socket->waitForConnected(ConnectTimeoutMs)) {
        // Frames are small and each waits for its answer: no coalescing.
        Socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
    switch (Socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        ErrorText = QStringLiteral("%1: the connection was refused: nothing serves port %2 on %3.")
                        .arg(Name, QString::number(TcpPort), Host);
        break;
    case QAbstractSocket::HostNotFoundError:
        ErrorText = QStringLiteral("%1: the host %2 is not known.").arg(Name, Host);
        break;
    case QAbstractSocket::SocketTimeoutError:
        ErrorText = QStringLiteral("%1: no answer from %2 within %3 s: check the host and "
                                   "that it is on the network.")
                        .arg(Name, Host, QString::number(ConnectTimeoutMs / 1000));
        break;
    default:
        ErrorText = QStringLiteral("%1: %2").arg(Name, Socket->errorString());
    }
    Socket.reset();
    return false;
}

bool TRfc2217Port::AgreeOnOption() {
    for (uint8_t option : {ComPortOption, BinaryOption, SuppressGoAhead}) {
        SendCommand(Will, option);
        Local[option] = TOption::Asked;
    }
    for (uint8_t option : {BinaryOption, SuppressGoAhead}) {
        SendCommand(Do, option);
        Remote[option] = TOption::Asked;
    }
    const bool agreed = AwaitReply(
        [this] { return Local[ComPortOption] == TOption::On || Refused; }, ReplyTimeoutMs);
    if (agreed && !Refused)
        return true;
    if (Refused)
        ErrorText = QStringLiteral("%1: the server refuses serial port control (RFC 2217): it "
                                   "serves the port without it.")
                        .arg(Name);
    else if (ConnectionLost)
        NoteClosedByServer();
    else
        ErrorText = QStringLiteral("%1: the server did not agree to serial port control "
                                   "(RFC 2217) within %2 s: is it an RFC 2217 port?")
                        .arg(Name, QString::number(ReplyTimeoutMs / 1000));
    return false;
}

bool TRfc2217Port::SetLine(const TPortSettings& line) {
    const QByteArray wanted[] = {BigEndian32(static_cast<uint32_t>(line.BaudRate)),
                                 QByteArray(1, static_cast<char>(line.DataBits)),
                                 QByteArray(1, static_cast<char>(ParityCode(line.Parity))),
                                 QByteArray(1, static_cast<char>(StopCode(line.StopBits)))};
    const uint8_t commands[] = {SetBaudrate, SetDatasize, SetParity, SetStopsize};
    for (int i = 0; i < 4; ++i) {
        Confirmed[commands[i]].clear();
        SendSubnegotiation(commands[i], wanted[i]);
    }
    const bool answered = AwaitReply(
        [this, &commands] {
            return std::all_of(std::begin(commands), std::end(commands),
                               [this](uint8_t command) { return !Confirmed[command].isEmpty(); });
        },
        ReplyTimeoutMs);
    if (ConnectionLost) {
        NoteClosedByServer();
        return false;
    }
    if (!answered) {
        ErrorText = QStringLiteral("%1: the server did not confirm the line settings within %2 s.")
                        .arg(Name, QString::number(ReplyTimeoutMs / 1000));
        return false;
    }
    for (int i = 0; i < 4; ++i)
        if (Confirmed[commands[i]] != wanted[i]) {
            ErrorText = QStringLiteral("%1 does not accept these line settings: the server kept "
                                       "its port at other ones.")
                            .arg(Name);
            return false;
        }
    return true;
}

// ---- Data ---------------------------------------------------------------------------------------

int TRfc2217Port::Receive(char* bytes, int count, int timeoutMs) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    for (;;) {
        const bool waiting = Decoded.isEmpty();
        TakeIn(waiting ? static_cast<int>(std::min<qint64>(deadline.remainingTime(), SliceMs)) : 0);
        if (!Decoded.isEmpty()) {
            const int got = static_cast<int>(std::min<qsizetype>(Decoded.size(), count));
            std::copy(Decoded.constData(), Decoded.constData() + got, bytes);
            Decoded.remove(0, got);
            return got;
        }
        if (CheckConnection())
            return -1;
        if (deadline.hasExpired())
            return 0;
    }
}

void TRfc2217Port::TakeIn(int timeoutMs) {
    if (!Socket)
        return;
    if (Socket->bytesAvailable() == 0 && Socket->state() == QAbstractSocket::ConnectedState) {
        AcknowledgePromptly(Socket->socketDescriptor());
        Socket->waitForReadyRead(std::max(timeoutMs, 0));
    }
    if (Socket->bytesAvailable() > 0)
        Decode(Socket->readAll());
}

bool TRfc2217Port::Drain(int timeoutMs, const THook& waitHook) {
    return !CheckConnection() && HandOver(timeoutMs, waitHook);
}

bool TRfc2217Port::Send(const char* data, unsigned count, int timeoutMs, const THook& waitHook) {
    if (CheckConnection())
        return false;
    Socket->write(Escaped(data, count));
    const int64_t now = Clock.nsecsElapsed() / 1000;
    LineFreeUs = std::max(LineFreeUs, now) + LineMicroseconds(count, BaudRate);
    return HandOver(timeoutMs, waitHook);
}

bool TRfc2217Port::WaitSent(int timeoutMs, const THook& waitHook) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    if (!HandOver(timeoutMs, waitHook))
        return false;
    for (;;) {
        const int64_t left = LineFreeUs - Clock.nsecsElapsed() / 1000;
        if (left <= 0)
            return true;
        if (deadline.hasExpired())
            return false;
        if (waitHook)
            waitHook();
        QThread::usleep(static_cast<unsigned long>(std::min<int64_t>(left, SliceMs * 1000)));
    }
}

bool TRfc2217Port::HandOver(int timeoutMs, const std::function<void()>& waitHook) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    QElapsedTimer sinceHook;
    sinceHook.start();
    while (Socket->bytesToWrite() > 0) {
        if (CheckConnection() || deadline.hasExpired())
            return false;
        if (waitHook && sinceHook.elapsed() >= SliceMs) {
            waitHook();
            sinceHook.restart();
        }
        Socket->waitForBytesWritten(
            static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, SliceMs)));
    }
    return !CheckConnection();
}

int TRfc2217Port::Purge() {
    if (CheckConnection())
        return 0;
    TakeIn(0);
    const int found = static_cast<int>(Decoded.size());
    Decoded.clear();
    // Goes out with the frame that follows: the server purges, then passes the frame on.
    SendSubnegotiation(PurgeData, QByteArray(1, static_cast<char>(PurgeReceived)));
    return found;
}

qint64 TRfc2217Port::PendingOutput() const {
    if (!Socket)
        return 0;
    const int64_t left = std::max<int64_t>(LineFreeUs - Clock.nsecsElapsed() / 1000, 0);
    return Socket->bytesToWrite() + left * BaudRate / 10 / 1000000;
}

bool TRfc2217Port::CheckConnection() {
    if (ConnectionLost)
        return true;
    if (Socket && Socket->state() == QAbstractSocket::ConnectedState)
        return false;
    ConnectionLost = true;
    ErrorText = QStringLiteral("%1: the connection to the server was lost.").arg(Name);
    return true;
}

// ---- Telnet -------------------------------------------------------------------------------------

void TRfc2217Port::Decode(const QByteArray& raw) {
    for (const char c : raw) {
        const auto byte = static_cast<uint8_t>(c);
        switch (State) {
        case TTelnet::Data:
            if (byte == Iac)
                State = TTelnet::Command;
            else
                Decoded.append(c);
            break;
        case TTelnet::Command:
            State = TTelnet::Data;
            if (byte == Iac) {
                Decoded.append(c);
            } else if (byte >= Will && byte <= Dont) {
                Verb = byte;
                State = TTelnet::Option;
            } else if (byte == Sb) {
                Sub.clear();
                State = TTelnet::Sub;
            } // NOP, GA, data mark and the like carry nothing here
            break;
        case TTelnet::Option:
            Negotiate(Verb, byte);
            State = TTelnet::Data;
            break;
        case TTelnet::Sub:
            if (byte == Iac)
                State = TTelnet::SubCommand;
            else if (Sub.size() < MaxSubnegotiation)
                Sub.append(c);
            break;
        case TTelnet::SubCommand:
            if (byte == Se) {
                Subnegotiated();
                State = TTelnet::Data;
            } else {
                if (byte == Iac && Sub.size() < MaxSubnegotiation)
                    Sub.append(c);
                State = TTelnet::Sub;
            }
            break;
        }
    }
}

// Agrees to what this side asked for and refuses the rest, answering a change only once, so
// that the two sides cannot keep answering each other (RFC 1143).
void TRfc2217Port::Negotiate(uint8_t verb, uint8_t option) {
    switch (verb) {
    case Do:
        if (Local[option] == TOption::On)
            break;
        if (!WantedHere(option)) {
            SendCommand(Wont, option);
            break;
        }
        if (Local[option] == TOption::Off)
            SendCommand(Will, option);
        Local[option] = TOption::On;
        break;
    case Dont:
        if (Local[option] == TOption::On)
            SendCommand(Wont, option);
        Local[option] = TOption::Off;
        Refused |= option == ComPortOption;
        break;
    case Will:
        if (Remote[option] == TOption::On)
            break;
        if (!WantedThere(option)) {
            SendCommand(Dont, option);
            break;
        }
        if (Remote[option] == TOption::Off)
            SendCommand(Do, option);
        Remote[option] = TOption::On;
        break;
    default: // Wont
        if (Remote[option] == TOption::On)
            SendCommand(Dont, option);
        Remote[option] = TOption::Off;
    }
}

void TRfc2217Port::Subnegotiated() {
    if (Sub.size() < 2 || static_cast<uint8_t>(Sub[0]) != ComPortOption)
        return;
    const int command = static_cast<uint8_t>(Sub[1]) - ServerReply;
    // Notifications of line and modem state, flow control and purge answers are not awaited.
    if (command >= SetBaudrate && command <= SetStopsize)
        Confirmed[command] = Sub.mid(2);
}

bool TRfc2217Port::AwaitReply(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (CheckConnection() || deadline.hasExpired())
            return false;
        if (Socket->bytesToWrite() > 0)
            Socket->waitForBytesWritten(SliceMs);
        TakeIn(static_cast<int>(std::min<qint64>(deadline.remainingTime(), SliceMs)));
    }
    return true;
}

void TRfc2217Port::SendCommand(uint8_t verb, uint8_t option) {
    const char command[] = {static_cast<char>(Iac), static_cast<char>(verb),
                            static_cast<char>(option)};
    Socket->write(command, sizeof command);
}

void TRfc2217Port::SendSubnegotiation(uint8_t command, const QByteArray& value) {
    QByteArray frame;
    frame.append(static_cast<char>(Iac)).append(static_cast<char>(Sb));
    frame.append(static_cast<char>(ComPortOption)).append(static_cast<char>(command));
    frame.append(Escaped(value.constData(), value.size()));
    frame.append(static_cast<char>(Iac)).append(static_cast<char>(Se));
    Socket->write(frame);
}

// A server that will not serve the port says why before it closes ("Port already in use"):
// passed on in plain text.
void TRfc2217Port::NoteClosedByServer() {
    QString said;
    for (const char c : Decoded.left(120))
        said += c >= ' ' && c < 0x7F ? QChar::fromLatin1(c) : QChar(' ');
    said = said.simplified();
    ErrorText = QStringLiteral("%1: the server closed the connection%2.")
                    .arg(Name, said.isEmpty() ? QString() : ", saying \"" + said + "\"");
}
