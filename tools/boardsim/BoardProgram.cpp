#include "BoardProgram.h"

#include <cstdio>

std::string TBoardProgram::Start(int64_t nowMs) {
    Started = true;
    Ticks = 0;
    NextTickMs = nowMs + Config.TickMs;
    std::string out;
    for (const std::string& line : Config.Banner)
        out += line + Config.LineEnd;
    return out;
}

std::string TBoardProgram::Receive(const char* data, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (data[i] == '\r' || data[i] == '\n') {
            // CR+LF from the host is one line end, not two.
            if (data[i] == '\n' && i > 0 && data[i - 1] == '\r')
                continue;
            out += Config.LineEnd;
        } else {
            out += data[i];
        }
    }
    return out;
}

std::string TBoardProgram::Tick(int64_t nowMs, size_t room) {
    std::string out;
    if (!Started)
        return out;
    if (Config.Flood) {
        char line[64];
        while (out.size() < room) {
            std::snprintf(line, sizeof line, "flood %08llu abcdefghijklmnopqrstuvwxyz",
                          static_cast<unsigned long long>(++FloodLines));
            out += line + Config.LineEnd;
        }
        return out;
    }
    if (Config.TickMs <= 0)
        return out;
    while (nowMs >= NextTickMs) {
        out += "tick " + std::to_string(++Ticks) + Config.LineEnd;
        NextTickMs += Config.TickMs;
    }
    return out;
}

std::string TBoardProgram::OnLine(const std::string& bytes, int hostSpeed) const {
    if (hostSpeed <= 0 || hostSpeed == Config.Speed)
        return bytes;
    std::string garbled = bytes;
    for (char& byte : garbled)
        byte = static_cast<char>(static_cast<unsigned char>(byte) ^ 0xA5);
    return garbled;
}
