// What a network port's server sends, through the Telnet decoder and the COM-PORT client, with
// a purge owed or not. Input: one byte of setup, then the server's bytes; the setup's bits also
// pick where the bytes are cut into reads.
// Properties: the same bytes cut differently give the same data, answers, agreements and
// client state; bytes without 0xFF pass as they are; no more data comes out than went in; the
// answers this side sends are whole option commands for options the server named.

#include "ComPortClient.h"
#include "FuzzSupport.h"
#include "TelnetDecoder.h"

#include <cstring>
#include <string>

namespace {

struct TOutcome : TTelnetSink {
    TComPortClient Client;
    std::string Events; // subnegotiations and drops, in order with the data's length
    QByteArray Answers;

    void Data(const char* bytes, qsizetype count) override { Client.Data(bytes, count); }
    void Subnegotiation(uint8_t option, const QByteArray& value) override {
        Events += "s" + std::to_string(option) + ":" + value.toHex().toStdString() + "@" +
                  std::to_string(Client.Received().size()) + ";";
        Client.Subnegotiation(option, value);
    }
    void SubnegotiationDropped() override {
        Events += "d@" + std::to_string(Client.Received().size()) + ";";
        Client.SubnegotiationDropped();
    }
};

void Run(TOutcome& outcome, uint8_t setup, const uint8_t* data, size_t size, size_t piece) {
    TTelnetDecoder decoder(outcome);
    decoder.AskHere(telnet::ComPortOption);
    decoder.AskHere(telnet::BinaryOption);
    decoder.AskThere(telnet::BinaryOption);
    decoder.TakeOutput();
    if (setup & 1)
        outcome.Client.PurgeRequest();
    for (size_t at = 0; at < size; at += piece) {
        const size_t count = std::min(piece, size - at);
        decoder.Decode(reinterpret_cast<const char*>(data) + at, static_cast<qsizetype>(count));
        outcome.Answers += decoder.TakeOutput();
    }
    for (int option = 0; option < 256; ++option)
        outcome.Events += std::to_string(static_cast<int>(decoder.Here(option))) +
                          std::to_string(static_cast<int>(decoder.There(option)));
}

void CheckAnswers(const QByteArray& answers, const uint8_t* data, size_t size) {
    FUZZ_CHECK(answers.size() % 3 == 0, "answers of %d bytes", static_cast<int>(answers.size()));
    for (qsizetype i = 0; i < answers.size(); i += 3) {
        const auto verb = static_cast<uint8_t>(answers[i + 1]);
        FUZZ_CHECK(static_cast<uint8_t>(answers[i]) == telnet::Iac && verb >= telnet::Will &&
                       verb <= telnet::Dont,
                   "answer %d is not an option command", static_cast<int>(i / 3));
        FUZZ_CHECK(std::memchr(data, answers[i + 2], size) != nullptr,
                   "answer about option %d, which the server never named",
                   static_cast<uint8_t>(answers[i + 2]));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t setup = input[0];
    const uint8_t* data = input + 1;
    size -= 1;

    TOutcome whole, cut;
    Run(whole, setup, data, size, std::max<size_t>(size, 1));
    Run(cut, setup, data, size, 1 + (setup >> 1));
    FUZZ_CHECK(whole.Events == cut.Events && whole.Answers == cut.Answers &&
                   whole.Client.Received() == cut.Client.Received() &&
                   whole.Client.TakeStaleDropped() == cut.Client.TakeStaleDropped() &&
                   whole.Client.Disturbances() == cut.Client.Disturbances() &&
                   whole.Client.Suspended() == cut.Client.Suspended() &&
                   whole.Client.PurgeOwed() == cut.Client.PurgeOwed(),
               "reads of %d bytes decode differently from one read", 1 + (setup >> 1));

    whole.Client.GiveUpOnPurge();
    const QByteArray& received = whole.Client.Received();
    FUZZ_CHECK(received.size() <= static_cast<qsizetype>(size), "%d bytes of data from %d",
               static_cast<int>(received.size()), static_cast<int>(size));
    if (std::memchr(data, telnet::Iac, size) == nullptr)
        FUZZ_CHECK(received.size() == static_cast<qsizetype>(size) &&
                       std::memcmp(received.constData(), data, size) == 0,
                   "data without 0xFF changed on the way");
    CheckAnswers(whole.Answers, data, size);
    return 0;
}
