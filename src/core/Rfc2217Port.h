// A serial port on another machine, served over TCP with the Telnet COM-PORT-OPTION of RFC 2217
// (as ser2net serves one) and named "rfc2217://HOST:PORT". The client side of the option: the far
// port's line is set on opening, the server's input is purged before each frame, 0xFF is doubled
// in the data both ways and Telnet commands never reach the caller. Blocking calls with short
// waits, so it serves on any thread without an event loop.
#ifndef KORVEX_RFC2217PORT_H
#define KORVEX_RFC2217PORT_H

#include "ByteLine.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QTcpSocket;

// Whether a port name names a network port rather than a device.
bool IsNetworkPortName(const QString& name);

class TRfc2217Port final : public TByteLine {
public:
    TRfc2217Port();
    ~TRfc2217Port() override;
    TRfc2217Port(const TRfc2217Port&) = delete;
    TRfc2217Port& operator=(const TRfc2217Port&) = delete;

    // Connects to the server line.Device names, agrees on the option with it and sets the far
    // port's line; false with Error set (it names the host and port).
    bool Open(const TPortSettings& line) override;

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

    bool CheckLost() override { return CheckConnection(); }
    QString Error() const override { return ErrorText; }
    // The far port's adapter is the server's business.
    TLineAbilities Abilities() const override { return {}; }

    // How long the server may take: to accept the connection, to agree on the option, to confirm
    // the line settings.
    static constexpr int ConnectTimeoutMs = 3000;
    static constexpr int ReplyTimeoutMs = 3000;

private:
    enum class TOption : uint8_t { Off, Asked, On };
    enum class TTelnet : uint8_t { Data, Command, Option, Sub, SubCommand };

    void StartAfresh();
    bool Connect();
    bool AgreeOnOption();
    bool SetLine(const TPortSettings& line);
    // Takes in what the socket holds, waiting at most timeoutMs when nothing is decoded yet.
    void TakeIn(int timeoutMs);
    void Decode(const QByteArray& raw);
    void Negotiate(uint8_t verb, uint8_t option);
    void Subnegotiated();
    // Waits until done holds, the connection is lost or timeoutMs passed; whether done holds.
    bool AwaitReply(const std::function<bool()>& done, int timeoutMs);
    bool HandOver(int timeoutMs, const std::function<void()>& waitHook);
    void SendCommand(uint8_t verb, uint8_t option);
    void SendSubnegotiation(uint8_t command, const QByteArray& value);
    // Notes a connection that is gone; true when it is.
    bool CheckConnection();
    void NoteClosedByServer();

    std::unique_ptr<QTcpSocket> Socket;
    QString Name; // "rfc2217://HOST:PORT", as given
    QString Host;
    quint16 TcpPort = 0;
    int BaudRate = 9600;
    QByteArray Decoded; // data received, Telnet taken out, not yet read
    TTelnet State = TTelnet::Data;
    uint8_t Verb = 0;
    QByteArray Sub;
    std::array<TOption, 256> Local{};  // options this side performs
    std::array<TOption, 256> Remote{}; // options the server performs
    bool Refused = false;
    std::array<QByteArray, 16> Confirmed; // the server's answers to SET-... by command
    QElapsedTimer Clock;
    int64_t LineFreeUs = 0; // when the far line will have carried what was sent
    bool ConnectionLost = false;
    QString ErrorText;
};

#endif
