// The Telnet layer under the network port (RFC 854, 855, 1143): takes the server's bytes in
// whatever pieces they arrive, passes the data on with 0xFF undoubled, answers the server's
// option requests, and hands complete subnegotiations on. A subnegotiation that grows past
// MaxSubnegotiation bytes, or that another command breaks into, is dropped: the data after it
// is not swallowed, and the sink hears that the line was disturbed.
#ifndef KORVEX_TELNETDECODER_H
#define KORVEX_TELNETDECODER_H

#include <QByteArray>

#include <array>
#include <cstdint>

namespace telnet {

constexpr uint8_t Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;
constexpr uint8_t BinaryOption = 0, EchoOption = 1, SuppressGoAhead = 3, ComPortOption = 44;

// Doubles every 0xFF, which Telnet would take for the start of a command.
QByteArray Escaped(const char* data, qsizetype count);
// IAC SB option command value IAC SE, the value escaped.
QByteArray Subnegotiation(uint8_t option, uint8_t command, const QByteArray& value);

} // namespace telnet

// What the decoder finds, in the order it comes on the connection.
class TTelnetSink {
public:
    virtual ~TTelnetSink() = default;
    virtual void Data(const char* bytes, qsizetype count) = 0;
    // A whole subnegotiation: the option and what followed it, 0xFF undoubled.
    virtual void Subnegotiation(uint8_t option, const QByteArray& value) = 0;
    // A subnegotiation was dropped: too long, or broken by another command.
    virtual void SubnegotiationDropped() = 0;
};

class TTelnetDecoder {
public:
    // Where an option stands on one side of the connection.
    enum class TAgreement : uint8_t { Off, Asked, On, Refused };

    // Longer than any COM-PORT answer by far, short enough that a subnegotiation that never
    // ends holds back only a few KiB of data.
    static constexpr int MaxSubnegotiation = 4096;

    explicit TTelnetDecoder(TTelnetSink& sink) : Sink(sink) {}

    // Asks that this side may perform the option (WILL), or that the server does (DO). Options
    // never asked for are refused when the server offers or requests them.
    void AskHere(uint8_t option);
    void AskThere(uint8_t option);
    // Agrees to the option when the other side asks, without asking for it.
    void AllowHere(uint8_t option) { WantedHere[option] = true; }
    void AllowThere(uint8_t option) { WantedThere[option] = true; }

    void Decode(const char* raw, qsizetype count);
    void Decode(const QByteArray& raw) { Decode(raw.constData(), raw.size()); }

    // Requests and answers to send, in order; taken once.
    QByteArray TakeOutput();

    TAgreement Here(uint8_t option) const { return Local[option]; }
    TAgreement There(uint8_t option) const { return Remote[option]; }

private:
    enum class TState : uint8_t { Data, Command, Option, Sub, SubCommand };

    // Data bytes from start up to end, when any.
    void FlushData(const char* start, const char* end);
    void Command(uint8_t byte);
    void SubByte(uint8_t byte);
    void Negotiate(uint8_t verb, uint8_t option);
    void Agree(std::array<TAgreement, 256>& side, const std::array<bool, 256>& wanted,
               uint8_t option, bool offered, uint8_t yes, uint8_t no);
    void Send(uint8_t verb, uint8_t option);
    void DropSubnegotiation();

    TTelnetSink& Sink;
    TState State = TState::Data;
    uint8_t Verb = 0;
    QByteArray Sub;
    QByteArray Output;
    std::array<TAgreement, 256> Local{};  // options this side performs
    std::array<TAgreement, 256> Remote{}; // options the server performs
    std::array<bool, 256> WantedHere{};
    std::array<bool, 256> WantedThere{};
};

#endif
