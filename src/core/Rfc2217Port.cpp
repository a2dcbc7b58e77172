#include "Rfc2217Port.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#ifndef _WIN32
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

using namespace telnet;
using namespace comport;

// How long a server that turns connections away is asked again, and the pause between.
constexpr int BusyRetryMs = 1000;
constexpr int RetryPauseMs = 50;
// The longest single wait: short, so that a caller's time-outs and hooks keep their pace.
constexpr int SliceMs = 20;
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

QString OpeningGivenUpText(const QString& port) {
    return QStringLiteral("%1: the opening was cancelled.").arg(port);
}

bool TRfc2217Port::Open(const TPortSettings& line, const TOpenWait& wait) {
    Opening = wait.Hook || wait.GiveUp ? &wait : nullptr;
    GaveUp = false;
    const bool opened = Establish(line);
    Opening = nullptr;
    return opened;
}

bool TRfc2217Port::Establish(const TPortSettings& line) {
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
    // for the next operation) turns the next one away for a moment: it is asked again.
    QDeadlineTimer busy(BusyRetryMs);
    for (;;) {
        StartAfresh();
        if (!Connect())
            return false;
        if (AgreeOnOptions() && SetLine(line))
            break;
        if (!ConnectionLost || busy.hasExpired() || !StillWaiting())
            return false;
        QThread::msleep(RetryPauseMs);
    }
    FirstPurge();
    Socket->flush();
    return !CheckConnection();
}

void TRfc2217Port::StartAfresh() {
    Socket.reset();
    Session = std::make_unique<TSession>();
    PurgesAnswered = false;
    DisturbancesSeen = 0;
    ConnectionLost = false;
    ErrorText.clear();
}

bool TRfc2217Port::Connect() {
    Socket = std::make_unique<QTcpSocket>();
    Socket->setProxy(QNetworkProxy::NoProxy);
    Socket->connectToHost(Host, TcpPort);
    if (Opening ? ConnectServed() : Socket->waitForConnected(ConnectTimeoutMs)) {
        // Frames are small and each waits for its answer: no coalescing.
        Socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
    if (!GaveUp)
        NoteConnectFailure(Socket->state() == QAbstractSocket::UnconnectedState
                               ? Socket->error()
                               : QAbstractSocket::SocketTimeoutError);
    Socket.reset();
    return false;
}

bool TRfc2217Port::ConnectServed() {
    // A blocking wait would keep the caller from its wait, and one cut short abandons the
    // attempt: the connection makes its way through an event loop woken every slice instead.
    QEventLoop loop;
    QTimer slice;
    QObject::connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(Socket.get(), &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
    slice.start(SliceMs);
    const QDeadlineTimer deadline(ConnectTimeoutMs);
    while (Socket->state() != QAbstractSocket::ConnectedState &&
           Socket->state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired()) {
        if (!StillWaiting())
            return false;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return Socket->state() == QAbstractSocket::ConnectedState;
}

bool TRfc2217Port::StillWaiting() {
    if (!Opening)
        return true;
    if (Opening->Hook)
        Opening->Hook();
    if (!GaveUp && Opening->GiveUp && Opening->GiveUp()) {
        GaveUp = true;
        ErrorText = OpeningGivenUpText(Name);
    }
    return !GaveUp;
}

void TRfc2217Port::NoteConnectFailure(int socketError) {
    switch (socketError) {
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
}

bool TRfc2217Port::AgreeOnOptions() {
    TTelnetDecoder& telnet = Session->Telnet;
    for (uint8_t option : {ComPortOption, BinaryOption, SuppressGoAhead})
        telnet.AskHere(option);
    for (uint8_t option : {BinaryOption, SuppressGoAhead})
        telnet.AskThere(option);
    Answer();
    using TAgreement = TTelnetDecoder::TAgreement;
    const auto settled = [](TAgreement agreement) {
        return agreement == TAgreement::On || agreement == TAgreement::Refused;
    };
    const bool answered = AwaitReply(
        [&] {
            return telnet.Here(ComPortOption) == TAgreement::Refused ||
                   (settled(telnet.Here(ComPortOption)) && settled(telnet.Here(BinaryOption)) &&
                    settled(telnet.There(BinaryOption)));
        },
        ReplyTimeoutMs);
    const bool portControl = telnet.Here(ComPortOption) == TAgreement::On;
    if (portControl && telnet.Here(BinaryOption) == TAgreement::On &&
        telnet.There(BinaryOption) == TAgreement::On)
        return true;
    if (GaveUp)
        return false;
    if (telnet.Here(ComPortOption) == TAgreement::Refused)
        ErrorText = QStringLiteral("%1: the server refuses serial port control (RFC 2217): it "
                                   "serves the port without it.")
                        .arg(Name);
    else if (ConnectionLost)
        NoteClosedByServer();
    else if (!answered && !portControl)
        ErrorText = QStringLiteral("%1: the server did not agree to serial port control "
                                   "(RFC 2217) within %2 s: is it an RFC 2217 port?")
                        .arg(Name, QString::number(ReplyTimeoutMs / 1000));
    else
        ErrorText = QStringLiteral("%1: the server will not pass 8-bit data (it does not agree "
                                   "to Telnet's binary mode both ways). ser2net always does; "
                                   "on another server, turn its binary option on.")
                        .arg(Name);
    return false;
}

bool TRfc2217Port::SetLine(const TPortSettings& line) {
    const uint8_t commands[] = {SetBaudrate, SetDatasize, SetParity, SetStopsize};
    const QByteArray values[] = {BaudValue(line.BaudRate),
                                 QByteArray(1, static_cast<char>(line.DataBits)),
                                 QByteArray(1, static_cast<char>(ParityCode(line.Parity))),
                                 QByteArray(1, static_cast<char>(StopCode(line.StopBits)))};
    // As on a local port: no flow control, and the far line's errors reported. A server that
    // does not confirm either is no error.
    Socket->write(Session->Client.Request(SetControl, QByteArray(1, char(NoFlowControl))));
    Socket->write(Session->Client.Request(SetLinestateMask, QByteArray(1, char(LineErrors))));
    return Confirm(commands, values, 4);
}

bool TRfc2217Port::ChangeSpeed(int baudRate) {
    if (CheckConnection())
        return false;
    const uint8_t command = SetBaudrate;
    const QByteArray value = BaudValue(baudRate);
    if (!Confirm(&command, &value, 1))
        return false;
    BaudRate = baudRate;
    return true;
}

bool TRfc2217Port::Confirm(const uint8_t* commands, const QByteArray* values, int count) {
    TComPortClient& client = Session->Client;
    for (int i = 0; i < count; ++i)
        Socket->write(client.Request(commands[i], values[i]));
    const bool answered = AwaitReply(
        [&] {
            return std::all_of(commands, commands + count,
                               [&](uint8_t command) { return client.Confirmed(command); });
        },
        ReplyTimeoutMs);
    if (GaveUp)
        return false;
    if (ConnectionLost) {
        NoteClosedByServer();
        return false;
    }
    if (!answered) {
        ErrorText = QStringLiteral("%1: the server did not confirm the line settings within %2 s.")
                        .arg(Name, QString::number(ReplyTimeoutMs / 1000));
        return false;
    }
    for (int i = 0; i < count; ++i)
        if (client.Confirmation(commands[i]) != values[i]) {
            ErrorText = QStringLiteral("%1 does not accept these line settings: the server kept "
                                       "its port at other ones.")
                            .arg(Name);
            return false;
        }
    return true;
}

// What the far port held before is no answer to anything this side will send. Whether the
// server answers the purge decides whether later purges hold data back until their answers.
void TRfc2217Port::FirstPurge() {
    TComPortClient& client = Session->Client;
    client.Received().clear();
    PurgesAnswered = true; // until TakeIn finds the answer too late
    Socket->write(client.PurgeRequest(true));
    PurgeSentUs = Clock.nsecsElapsed() / 1000;
    AwaitReply([&] { return !client.PurgeOwed(); }, PurgeReplyTimeoutMs + SliceMs);
    if (client.PurgeOwed()) {
        client.GiveUpOnPurge();
        PurgesAnswered = false;
    }
    client.Received().clear();
    client.TakeStaleDropped();
}

// ---- Data ---------------------------------------------------------------------------------------

int TRfc2217Port::Receive(char* bytes, int count, int timeoutMs) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    QByteArray& received = Session->Client.Received();
    for (;;) {
        const bool waiting = received.isEmpty();
        TakeIn(waiting ? static_cast<int>(std::min<qint64>(deadline.remainingTime(), SliceMs)) : 0);
        if (!received.isEmpty()) {
            const int got = static_cast<int>(std::min<qsizetype>(received.size(), count));
            std::copy(received.constData(), received.constData() + got, bytes);
            received.remove(0, got);
            return got;
        }
        if (CheckConnection())
            return -1;
        if (deadline.hasExpired())
            return timeoutMs >= ProbeAfterMs && !ServerAnswers() ? -1 : 0;
    }
}

// An answer that never came may be the board's silence or a connection whose other end is gone
// without a word (the server's machine or the network between): the server is asked for its
// port's speed, which it answers at once while it is there.
bool TRfc2217Port::ServerAnswers() {
    TComPortClient& client = Session->Client;
    Socket->write(client.Request(SetBaudrate, BaudValue(0)));
    if (AwaitReply([&] { return client.Confirmed(SetBaudrate); }, ProbeTimeoutMs))
        return true;
    if (!ConnectionLost) {
        ConnectionLost = true;
        ErrorText = QStringLiteral("%1: the server stopped answering: the connection is "
                                   "half-open (the server's machine or the network between "
                                   "went away).")
                        .arg(Name);
    }
    return false;
}

void TRfc2217Port::TakeIn(int timeoutMs) {
    if (!Socket || !Session)
        return;
    if (Socket->bytesAvailable() == 0 && Socket->state() == QAbstractSocket::ConnectedState) {
        AcknowledgePromptly(Socket->socketDescriptor());
        Socket->waitForReadyRead(std::max(timeoutMs, 0));
    }
    if (Socket->bytesAvailable() > 0) {
        Session->Telnet.Decode(Socket->readAll());
        Answer();
    }
    // A server that stopped answering purges: what it sent counts as received after all.
    TComPortClient& client = Session->Client;
    if (client.PurgeOwed() &&
        Clock.nsecsElapsed() / 1000 - PurgeSentUs > int64_t{PurgeReplyTimeoutMs} * 1000) {
        client.GiveUpOnPurge();
        PurgesAnswered = false;
    }
}

void TRfc2217Port::Answer() {
    const QByteArray answers = Session->Telnet.TakeOutput();
    if (!answers.isEmpty())
        Socket->write(answers);
}

bool TRfc2217Port::Drain(int timeoutMs, const THook& waitHook) {
    return !CheckConnection() && HandOver(timeoutMs, waitHook);
}

bool TRfc2217Port::Send(const char* data, unsigned count, int timeoutMs, const THook& waitHook) {
    if (CheckConnection() || !AwaitResume(timeoutMs, waitHook))
        return false;
    Socket->write(Escaped(data, count));
    const int64_t now = Clock.nsecsElapsed() / 1000;
    LineFreeUs = std::max(LineFreeUs, now) + LineMicroseconds(count, BaudRate);
    return HandOver(timeoutMs, waitHook);
}

bool TRfc2217Port::AwaitResume(int timeoutMs, const THook& waitHook) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    TakeIn(0);
    while (Session->Client.Suspended()) {
        if (CheckConnection())
            return false;
        if (deadline.hasExpired()) {
            ErrorText = QStringLiteral("%1: the server asked to stop sending and did not let go "
                                       "within %2 s.")
                            .arg(Name, QString::number(timeoutMs / 1000));
            return false;
        }
        if (waitHook)
            waitHook();
        TakeIn(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, SliceMs)));
    }
    return true;
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
    QByteArray& received = Session->Client.Received();
    const int found = static_cast<int>(received.size());
    received.clear();
    // Goes out with the frame that follows: the server purges, answers, then passes the frame
    // on, so whatever comes before its answer left the far port before the purge. A clean line
    // waits for nothing.
    Socket->write(Session->Client.PurgeRequest(PurgesAnswered));
    PurgeSentUs = Clock.nsecsElapsed() / 1000;
    return found;
}

// The far port's adapter is the server's business.
TLineAbilities TRfc2217Port::Abilities() const {
    TLineAbilities abilities;
    abilities.ThroughServer = true;
    abilities.ChangesSpeedOpen = true;
    return abilities;
}

bool TRfc2217Port::TakeDisturbed() {
    if (!Session)
        return false;
    TComPortClient& client = Session->Client;
    const bool disturbed =
        client.TakeStaleDropped() > 0 || client.Disturbances() != DisturbancesSeen;
    DisturbancesSeen = client.Disturbances();
    return disturbed;
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

bool TRfc2217Port::AwaitReply(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (CheckConnection() || deadline.hasExpired() || !StillWaiting())
            return false;
        if (Socket->bytesToWrite() > 0)
            Socket->waitForBytesWritten(SliceMs);
        TakeIn(static_cast<int>(std::min<qint64>(deadline.remainingTime(), SliceMs)));
    }
    return true;
}

// A server that will not serve the port says why before it closes ("Port already in use"):
// passed on in plain text.
void TRfc2217Port::NoteClosedByServer() {
    QString said;
    for (const char c : Session->Client.Received().left(120))
        said += c >= ' ' && c < 0x7F ? QChar::fromLatin1(c) : QChar(' ');
    said = said.simplified();
    ErrorText = QStringLiteral("%1: the server closed the connection%2.")
                    .arg(Name, said.isEmpty() ? QString() : ", saying \"" + said + "\"");
}
