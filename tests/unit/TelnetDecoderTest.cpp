// The network port's Telnet layer and the COM-PORT client above it, fed what a server sends in
// one piece, byte by byte and split at every point: each split must give the same result.
#include "TelnetDecoder.h"
#include "ComPortClient.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using TAgreement = TTelnetDecoder::TAgreement;

// What the decoder found, as text: data as it is, events in brackets.
struct TTranscript : TTelnetSink {
    std::string Text;
    void Data(const char* bytes, qsizetype count) override { Text.append(bytes, count); }
    void Subnegotiation(uint8_t option, const QByteArray& value) override {
        Text += "[sb " + std::to_string(option) + ":" + value.toHex(' ').toStdString() + "]";
    }
    void SubnegotiationDropped() override { Text += "[dropped]"; }
};

// The ways a server's bytes may be cut into reads.
std::vector<std::vector<std::string>> Splits(const std::string& bytes) {
    std::vector<std::vector<std::string>> splits = {{bytes}, {}};
    for (char c : bytes)
        splits[1].push_back(std::string(1, c));
    for (size_t at = 1; at < bytes.size(); ++at)
        splits.push_back({bytes.substr(0, at), bytes.substr(at)});
    return splits;
}

// Runs check on a fresh decoder fed each split of the bytes.
template <typename TSink>
void ForEachSplit(const std::string& bytes,
                  const std::function<void(TSink&, TTelnetDecoder&)>& prepare,
                  const std::function<void(TSink&, TTelnetDecoder&)>& check) {
    for (const std::vector<std::string>& pieces : Splits(bytes)) {
        SCOPED_TRACE(testing::Message()
                     << pieces.size() << " pieces, first " << pieces.front().size() << " bytes");
        TSink sink;
        TTelnetDecoder decoder(sink);
        if (prepare)
            prepare(sink, decoder);
        decoder.TakeOutput();
        for (const std::string& piece : pieces)
            decoder.Decode(piece.data(), static_cast<qsizetype>(piece.size()));
        check(sink, decoder);
    }
}

std::string Hex(const QByteArray& bytes) {
    return bytes.toHex(' ').toStdString();
}

const std::string Sb44 = "\xFF\xFA\x2C";
const std::string SubEnd = "\xFF\xF0";

} // namespace

TEST(TelnetDecoder, PassesDataAndWholeSubnegotiationsInOrder) {
    const std::string longSub = Sb44 + std::string(5000, 'z') + SubEnd + "ok";
    struct TCase {
        const char* Name;
        std::string Bytes;
        std::string Found;
        std::string Answer; // what this side sends back
    } cases[] = {
        {"plain data", "abc", "abc", ""},
        {"IAC IAC is one 0xFF",
         "a\xFF\xFF\xFF\xFF"
         "b",
         "a\xFF\xFF"
         "b",
         ""},
        {"commands between data bytes",
         "a\xFF\xF1"
         "b\xFF\xF9"
         "c\xFF\xF0"
         "d",
         "abcd", ""},
        {"option request between data bytes",
         "a\xFF\xFB\x01"
         "b",
         "ab", "ff fe 01"},
        {"subnegotiation", "x" + Sb44 + "e\x00\x01\xC2\x00"s + SubEnd + "y",
         "x[sb 44:65 00 01 c2 00]y", ""},
        {"0xFF doubled in a subnegotiation", Sb44 + "e\xFF\xFF\x01" + SubEnd, "[sb 44:65 ff 01]",
         ""},
        {"empty subnegotiation",
         "\xFF\xFA\xFF\xF0"
         "d",
         "d", ""},
        {"subnegotiation broken by a command",
         Sb44 + "e\x01\xFF\xFB\x01"
                "data",
         "[dropped]data", "ff fe 01"},
        {"subnegotiation broken by another", Sb44 + "e\x01" + Sb44 + "f\x02" + SubEnd + "d",
         "[dropped][sb 44:66 02]d", ""},
        {"subnegotiation that never ends", longSub, "[dropped]" + std::string(904, 'z') + "ok", ""},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        ForEachSplit<TTranscript>(test.Bytes, nullptr, [&](TTranscript& sink, TTelnetDecoder& d) {
            EXPECT_EQ(sink.Text, test.Found);
            EXPECT_EQ(Hex(d.TakeOutput()), test.Answer);
        });
    }
}

TEST(TelnetDecoder, AgreesToWhatItAskedAndRefusesTheRest) {
    const auto askForPort = [](TTranscript&, TTelnetDecoder& decoder) {
        for (uint8_t option : {telnet::ComPortOption, telnet::BinaryOption})
            decoder.AskHere(option);
        decoder.AskThere(telnet::BinaryOption);
    };
    struct TCase {
        const char* Name;
        std::string Bytes;
        std::string Answer;
        TAgreement PortHere, BinaryHere, BinaryThere;
    } cases[] = {
        {"agreed", "\xFF\xFD\x2C\xFF\xFD\x00\xFF\xFB\x00"s, "", TAgreement::On, TAgreement::On,
         TAgreement::On},
        {"asked again once agreed", "\xFF\xFD\x00\xFF\xFD\x00\xFF\xFB\x00\xFF\xFB\x00"s, "",
         TAgreement::Asked, TAgreement::On, TAgreement::On},
        {"binary refused here", "\xFF\xFD\x2C\xFF\xFE\x00\xFF\xFB\x00"s, "", TAgreement::On,
         TAgreement::Refused, TAgreement::On},
        {"binary refused there", "\xFF\xFC\x00"s, "", TAgreement::Asked, TAgreement::Asked,
         TAgreement::Refused},
        {"withdrawn after agreeing", "\xFF\xFB\x00\xFF\xFC\x00"s, "ff fe 00", TAgreement::Asked,
         TAgreement::Asked, TAgreement::Off},
        {"the server's echo and terminal type refused", "\xFF\xFB\x01\xFF\xFD\x18",
         "ff fe 01 ff fc 18", TAgreement::Asked, TAgreement::Asked, TAgreement::Asked},
        {"refusals of what was never asked go unanswered", "\xFF\xFC\x01\xFF\xFE\x18", "",
         TAgreement::Asked, TAgreement::Asked, TAgreement::Asked},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        ForEachSplit<TTranscript>(
            test.Bytes, askForPort, [&](TTranscript& sink, TTelnetDecoder& decoder) {
                EXPECT_EQ(sink.Text, "");
                EXPECT_EQ(Hex(decoder.TakeOutput()), test.Answer);
                EXPECT_EQ(decoder.Here(telnet::ComPortOption), test.PortHere);
                EXPECT_EQ(decoder.Here(telnet::BinaryOption), test.BinaryHere);
                EXPECT_EQ(decoder.There(telnet::BinaryOption), test.BinaryThere);
            });
    }
}

namespace {

// The COM-PORT client behind a decoder, with the requests of a case already sent.
struct TClient : TTelnetSink {
    TComPortClient Client;
    void Data(const char* bytes, qsizetype count) override { Client.Data(bytes, count); }
    void Subnegotiation(uint8_t option, const QByteArray& value) override {
        Client.Subnegotiation(option, value);
    }
    void SubnegotiationDropped() override { Client.SubnegotiationDropped(); }
};

std::string Reply(uint8_t command, const std::string& value) {
    return Sb44 + std::string(1, static_cast<char>(100 + command)) + value + SubEnd;
}

} // namespace

TEST(ComPortClient, ReadsTheServersAnswersAndNotifications) {
    const std::string purged = Reply(12, "\x01");
    struct TCase {
        const char* Name;
        int Purges;
        std::string Bytes;
        bool GiveUp; // on the purge's answer, after the bytes
        std::string Received;
        int Stale, Disturbances;
        bool Suspended;
    } cases[] = {
        {"data before the purge answer is stale", 1, "ol" + purged + "new", false, "new", 2, 0,
         false},
        {"until the last purge's answer", 2, "a" + purged + "b" + purged + "c", false, "c", 2, 0,
         false},
        {"no purge owed", 0, "a" + purged + "b", false, "ab", 0, 0, false},
        {"an answer that never comes", 1, "late", true, "late", 0, 0, false},
        {"overrun, parity, framing, break", 0,
         Reply(6, "\x02") + Reply(6, "\x04") + Reply(6, "\x08") + Reply(6, "\x10"), false, "", 0, 4,
         false},
        {"line state without errors", 0, Reply(6, "\x61"), false, "", 0, 0, false},
        {"dropped subnegotiation", 0,
         Sb44 + "j\x02\xFF\xF1"
                "d",
         false, "d", 0, 1, false},
        {"flow suspended", 0, Reply(8, ""), false, "", 0, 0, true},
        {"and resumed", 0, Reply(8, "") + "x" + Reply(9, ""), false, "x", 0, 0, false},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        const auto purge = [&](TClient& sink, TTelnetDecoder&) {
            for (int i = 0; i < test.Purges; ++i)
                sink.Client.PurgeRequest();
        };
        ForEachSplit<TClient>(test.Bytes, purge, [&](TClient& sink, TTelnetDecoder&) {
            if (test.GiveUp)
                sink.Client.GiveUpOnPurge();
            EXPECT_EQ(sink.Client.Received().toStdString(), test.Received);
            EXPECT_EQ(sink.Client.TakeStaleDropped(), test.Stale);
            EXPECT_EQ(sink.Client.Disturbances(), test.Disturbances);
            EXPECT_EQ(sink.Client.Suspended(), test.Suspended);
        });
    }
}

TEST(ComPortClient, KeepsEachConfirmationAsTheServerGaveIt) {
    TClient sink;
    TTelnetDecoder decoder(sink);
    const QByteArray asked = sink.Client.Request(comport::SetBaudrate, comport::BaudValue(115200));
    EXPECT_EQ(Hex(asked), "ff fa 2c 01 00 01 c2 00 ff f0");
    EXPECT_FALSE(sink.Client.Confirmed(comport::SetBaudrate));
    decoder.Decode(QByteArray::fromStdString(Reply(1, std::string("\x00\x00\xE1\x00", 4))));
    EXPECT_TRUE(sink.Client.Confirmed(comport::SetBaudrate));
    EXPECT_EQ(sink.Client.Confirmation(comport::SetBaudrate), comport::BaudValue(57600));
    // Asked again, the old answer no longer counts.
    sink.Client.Request(comport::SetBaudrate, comport::BaudValue(9600));
    EXPECT_FALSE(sink.Client.Confirmed(comport::SetBaudrate));
}
