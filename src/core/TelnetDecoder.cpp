#include "TelnetDecoder.h"

namespace telnet {

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

QByteArray Subnegotiation(uint8_t option, uint8_t command, const QByteArray& value) {
    QByteArray frame;
    frame.append(static_cast<char>(Iac)).append(static_cast<char>(Sb));
    frame.append(static_cast<char>(option)).append(static_cast<char>(command));
    frame.append(Escaped(value.constData(), value.size()));
    frame.append(static_cast<char>(Iac)).append(static_cast<char>(Se));
    return frame;
}

} // namespace telnet

using namespace telnet;

void TTelnetDecoder::AskHere(uint8_t option) {
    WantedHere[option] = true;
    if (Local[option] == TAgreement::On || Local[option] == TAgreement::Asked)
        return;
    Local[option] = TAgreement::Asked;
    Send(Will, option);
}

void TTelnetDecoder::AskThere(uint8_t option) {
    WantedThere[option] = true;
    if (Remote[option] == TAgreement::On || Remote[option] == TAgreement::Asked)
        return;
    Remote[option] = TAgreement::Asked;
    Send(Do, option);
}

QByteArray TTelnetDecoder::TakeOutput() {
    QByteArray out;
    out.swap(Output);
    return out;
}

void TTelnetDecoder::Decode(const char* raw, qsizetype count) {
    const char* run = raw; // the first data byte not yet passed on
    for (qsizetype i = 0; i < count; ++i) {
        const auto byte = static_cast<uint8_t>(raw[i]);
        switch (State) {
        case TState::Data:
            if (byte == Iac) {
                FlushData(run, raw + i);
                State = TState::Command;
            }
            continue;
        case TState::Command:
            Command(byte);
            break;
        case TState::Option:
            State = TState::Data;
            Negotiate(Verb, byte);
            break;
        case TState::Sub:
        case TState::SubCommand:
            SubByte(byte);
            break;
        }
        run = raw + i + 1;
    }
    if (State == TState::Data)
        FlushData(run, raw + count);
}

void TTelnetDecoder::FlushData(const char* start, const char* end) {
    if (end > start)
        Sink.Data(start, end - start);
}

void TTelnetDecoder::Command(uint8_t byte) {
    State = TState::Data;
    if (byte == Iac) {
        const char escaped = static_cast<char>(Iac);
        Sink.Data(&escaped, 1);
    } else if (byte >= Will && byte <= Dont) {
        Verb = byte;
        State = TState::Option;
    } else if (byte == Sb) {
        Sub.clear();
        State = TState::Sub;
    } // NOP, go-ahead, data mark, a stray SE and the like carry nothing here
}

void TTelnetDecoder::SubByte(uint8_t byte) {
    if (State == TState::Sub) {
        if (byte == Iac) {
            State = TState::SubCommand;
            return;
        }
    } else if (byte == Se) {
        State = TState::Data;
        if (!Sub.isEmpty())
            Sink.Subnegotiation(static_cast<uint8_t>(Sub[0]), Sub.mid(1));
        Sub.clear();
        return;
    } else if (byte != Iac) {
        // A command inside a subnegotiation: the subnegotiation never ended; the command counts.
        DropSubnegotiation();
        Command(byte);
        return;
    }
    State = TState::Sub;
    if (Sub.size() == MaxSubnegotiation) {
        DropSubnegotiation();
        return;
    }
    Sub.append(static_cast<char>(byte));
}

void TTelnetDecoder::DropSubnegotiation() {
    Sub.clear();
    State = TState::Data;
    Sink.SubnegotiationDropped();
}

void TTelnetDecoder::Negotiate(uint8_t verb, uint8_t option) {
    if (verb == Do || verb == Dont)
        Agree(Local, WantedHere, option, verb == Do, Will, Wont);
    else
        Agree(Remote, WantedThere, option, verb == Will, Do, Dont);
}

// Agrees to what this side asked for and refuses the rest, answering a change only once, so
// that the two sides cannot keep answering each other (RFC 1143). A refusal of what this side
// asked for is kept as such.
void TTelnetDecoder::Agree(std::array<TAgreement, 256>& side, const std::array<bool, 256>& wanted,
                           uint8_t option, bool offered, uint8_t yes, uint8_t no) {
    TAgreement& state = side[option];
    if (offered) {
        if (state == TAgreement::On)
            return;
        if (!wanted[option]) {
            Send(no, option);
            return;
        }
        if (state != TAgreement::Asked)
            Send(yes, option);
        state = TAgreement::On;
        return;
    }
    if (state == TAgreement::On)
        Send(no, option);
    state = state == TAgreement::Asked ? TAgreement::Refused
            : state == TAgreement::On  ? TAgreement::Off
                                       : state;
}

void TTelnetDecoder::Send(uint8_t verb, uint8_t option) {
    Output.append(static_cast<char>(Iac)).append(static_cast<char>(verb));
    Output.append(static_cast<char>(option));
}
