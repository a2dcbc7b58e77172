#include "ComPortClient.h"

namespace comport {

QByteArray BaudValue(int baudRate) {
    const auto value = static_cast<uint32_t>(baudRate);
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (24 - 8 * i));
    return bytes;
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

} // namespace comport

using namespace comport;

QByteArray TComPortClient::Request(uint8_t command, const QByteArray& value) {
    if (command < Answered.size()) {
        Answered[command] = false;
        Answers[command].clear();
    }
    return telnet::Subnegotiation(telnet::ComPortOption, command, value);
}

QByteArray TComPortClient::PurgeRequest(bool answerAwaited) {
    if (answerAwaited)
        ++PurgesOwed;
    return Request(PurgeData, QByteArray(1, static_cast<char>(PurgeReceived)));
}

void TComPortClient::GiveUpOnPurge() {
    PurgesOwed = 0;
    Fresh.append(Held);
    Held.clear();
}

qsizetype TComPortClient::TakeStaleDropped() {
    const qsizetype dropped = StaleDropped;
    StaleDropped = 0;
    return dropped;
}

void TComPortClient::Data(const char* bytes, qsizetype count) {
    (PurgesOwed > 0 ? Held : Fresh).append(bytes, count);
}

void TComPortClient::Subnegotiation(uint8_t option, const QByteArray& value) {
    if (option != telnet::ComPortOption || value.isEmpty())
        return;
    const auto code = static_cast<uint8_t>(value[0]);
    const QByteArray argument = value.mid(1);
    switch (code) {
    case ServerReply + NotifyLinestate:
        if (!argument.isEmpty() && (static_cast<uint8_t>(argument[0]) & LineErrors))
            ++Disturbed;
        return;
    case ServerReply + FlowSuspend:
        Suspend = true;
        return;
    case ServerReply + FlowResume:
        Suspend = false;
        return;
    case ServerReply + PurgeData:
        // Everything before this answer left the far port before the purge.
        if (PurgesOwed > 0 && --PurgesOwed == 0) {
            StaleDropped += Held.size();
            Held.clear();
        }
        break;
    default:
        break;
    }
    const int command = code - ServerReply;
    if (command > 0 && command < static_cast<int>(Answered.size())) {
        Answered[command] = true;
        Answers[command] = argument;
    }
}
