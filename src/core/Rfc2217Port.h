// A serial port on another machine, served over TCP with the Telnet COM-PORT-OPTION of RFC 2217
// (as ser2net serves one) and named "rfc2217://HOST:PORT". The client side of the option: binary
// mode both ways or no port, the far port's line set on opening with flow control off, its line
// errors noted, its requests to stop sending obeyed; the server's input is purged before each
// frame and what arrives before the server's purge answer is dropped as stale. Blocking calls
// with short waits, so it serves on any thread without an event loop.
#ifndef KORVEX_RFC2217PORT_H
#define KORVEX_RFC2217PORT_H

#include "ByteLine.h"
#include "ComPortClient.h"
#include "TelnetDecoder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QTcpSocket;

// Whether a port name names a network port rather than a device.
bool IsNetworkPortName(const QString& name);
// Why the opening of the network port ended when its caller gave it up.
QString OpeningGivenUpText(const QString& port);

class TRfc2217Port final : public TByteLine {
public:
    TRfc2217Port();
    ~TRfc2217Port() override;
    TRfc2217Port(const TRfc2217Port&) = delete;
    TRfc2217Port& operator=(const TRfc2217Port&) = delete;

    // Connects to the server line.Device names, agrees on the option with it and sets the far
    // port's line; false with Error set (it names the host and port). Each slice of waiting
    // for the server serves wait, which may give the opening up.
    bool Open(const TPortSettings& line, const TOpenWait& wait) override;

    int Receive(char* bytes, int count, int timeoutMs) override;
    // Waits for earlier output to be handed to the network.
    bool Drain(int timeoutMs, const THook& waitHook) override;
    bool Send(const char* data, unsigned count, int timeoutMs, const THook& waitHook) override;
    // Waits until the bytes sent have been handed over and have had the time the far line needs
    // to carry them.
    bool WaitSent(int timeoutMs, const THook& waitHook) override;
    // Discards what has arrived and asks the server to discard what its port received and has
    // not yet passed on: the number of bytes found here.
    int Purge() override;
    // Bytes not yet handed over, and those the far line is still taken up with.
    qint64 PendingOutput() const override;
    // Sets the far port to another speed on the open connection; false with Error set when the
    // server does not confirm it.
    bool ChangeSpeed(int baudRate) override;
    // Line errors the server reported, subnegotiations that had to be dropped and stale data
    // found after purges, since the last call: whether there were any.
    bool TakeDisturbed() override;

    bool CheckLost() override { return CheckConnection(); }
    QString Error() const override { return ErrorText; }
    TLineAbilities Abilities() const override;

    // How long the server may take: to accept the connection, to agree on the option, to confirm
    // the line settings.
    static constexpr int ConnectTimeoutMs = 3000;
    static constexpr int ReplyTimeoutMs = 3000;
    // How long the answer to a purge is waited for: at opening, to learn whether the server
    // gives one; later, before data held back for it counts as received after all.
    static constexpr int PurgeReplyTimeoutMs = 1000;
    // A wait this long that brought nothing has the server asked whether it is still there,
    // and it has this long to answer.
    static constexpr int ProbeAfterMs = 400;
    static constexpr int ProbeTimeoutMs = 1000;

private:
    // The Telnet layer and the COM-PORT client above it, for one connection.
    struct TSession {
        TComPortClient Client;
        TTelnetDecoder Telnet{Client};
    };

    bool Establish(const TPortSettings& line);
    void StartAfresh();
    bool Connect();
    // Connecting while the opening's wait is served, through an event loop of this thread.
    bool ConnectServed();
    void NoteConnectFailure(int socketError);
    // Serves the opening's wait for one slice; false once the caller gave up (Error says so).
    bool StillWaiting();
    bool AgreeOnOptions();
    bool SetLine(const TPortSettings& line);
    // Sends the requests and waits for the server to confirm each value as asked.
    bool Confirm(const uint8_t* commands, const QByteArray* values, int count);
    // Purges the far port at opening and learns whether the server answers purges.
    void FirstPurge();
    // Takes in what the socket holds, waiting at most timeoutMs when nothing is decoded yet.
    void TakeIn(int timeoutMs);
    // Sends what the Telnet layer has to answer.
    void Answer();
    // Waits until done holds, the connection is lost or timeoutMs passed; whether done holds.
    bool AwaitReply(const std::function<bool()>& done, int timeoutMs);
    bool HandOver(int timeoutMs, const std::function<void()>& waitHook);
    // Waits while the server has asked this side to stop sending.
    bool AwaitResume(int timeoutMs, const THook& waitHook);
    // Whether the server still answers; when not, the connection is taken as lost.
    bool ServerAnswers();
    // Notes a connection that is gone; true when it is.
    bool CheckConnection();
    void NoteClosedByServer();

    std::unique_ptr<QTcpSocket> Socket;
    const TOpenWait* Opening = nullptr; // while Open runs
    bool GaveUp = false;
    std::unique_ptr<TSession> Session;
    QString Name; // "rfc2217://HOST:PORT", as given
    QString Host;
    quint16 TcpPort = 0;
    int BaudRate = 9600;
    // Whether the server answers purges, so that data before the answer can be told stale.
    bool PurgesAnswered = false;
    int64_t PurgeSentUs = 0;
    int DisturbancesSeen = 0;
    QElapsedTimer Clock;
    int64_t LineFreeUs = 0; // when the far line will have carried what was sent
    bool ConnectionLost = false;
    QString ErrorText;
};

#endif
