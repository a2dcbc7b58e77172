// The client side of the Telnet COM-PORT option (RFC 2217) above the Telnet decoder: the
// requests that set the far port up, and what the server's answers and notifications mean for
// the data. After a purge the data that arrives before the server's purge answer left the far
// port earlier: it is held apart and dropped when that answer comes (TCP keeps the order). Line
// errors the server reports and subnegotiations the decoder had to drop count as disturbances.
#ifndef KORVEX_COMPORTCLIENT_H
#define KORVEX_COMPORTCLIENT_H

#include "TelnetDecoder.h"

#include <QByteArray>

#include <array>
#include <cstdint>

namespace comport {

// Commands from the client; the server answers each with the command + ServerReply.
constexpr uint8_t SetBaudrate = 1, SetDatasize = 2, SetParity = 3, SetStopsize = 4, SetControl = 5,
                  NotifyLinestate = 6, FlowSuspend = 8, FlowResume = 9, SetLinestateMask = 10,
                  PurgeData = 12;
constexpr uint8_t ServerReply = 100;
// SET-CONTROL: no flow control, either way.
constexpr uint8_t NoFlowControl = 1;
// PURGE-DATA: the server's buffer of what its port received.
constexpr uint8_t PurgeReceived = 1;
// NOTIFY-LINESTATE: overrun, parity and framing errors and a break.
constexpr uint8_t LineErrors = 0x02 | 0x04 | 0x08 | 0x10;

QByteArray BaudValue(int baudRate);
uint8_t ParityCode(char parity);
uint8_t StopCode(int tenths);

} // namespace comport

class TComPortClient : public TTelnetSink {
public:
    // A request; its confirmation is awaited anew.
    QByteArray Request(uint8_t command, const QByteArray& value);
    // Asks the server to drop what its port received; when the answer is awaited, what arrives
    // until it comes is held.
    QByteArray PurgeRequest(bool answerAwaited = true);

    bool Confirmed(uint8_t command) const { return Answered[command]; }
    const QByteArray& Confirmation(uint8_t command) const { return Answers[command]; }

    // Data received and not yet read.
    QByteArray& Received() { return Fresh; }
    // A purge is unanswered: what arrives is held until the answer.
    bool PurgeOwed() const { return PurgesOwed > 0; }
    // The answer is not coming: what was held counts as received, as if no purge were owed.
    void GiveUpOnPurge();
    // Bytes dropped as stale on purge answers since the last call.
    qsizetype TakeStaleDropped();

    // The server asked this side to stop sending for a while.
    bool Suspended() const { return Suspend; }
    // Line errors reported and subnegotiations dropped since the client was made.
    int Disturbances() const { return Disturbed; }

    void Data(const char* bytes, qsizetype count) override;
    void Subnegotiation(uint8_t option, const QByteArray& value) override;
    void SubnegotiationDropped() override { ++Disturbed; }

private:
    QByteArray Fresh;
    QByteArray Held; // arrived while a purge was owed
    int PurgesOwed = 0;
    qsizetype StaleDropped = 0;
    std::array<bool, 16> Answered{};
    std::array<QByteArray, 16> Answers; // the server's answers to SET-... by command
    bool Suspend = false;
    int Disturbed = 0;
};

#endif
