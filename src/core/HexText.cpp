#include "HexText.h"

#include <cstdio>

unsigned HexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return static_cast<unsigned>(ch - '0');
    if (ch >= 'A' && ch <= 'F')
        return static_cast<unsigned>(ch - 'A' + 10);
    if (ch >= 'a' && ch <= 'f')
        return static_cast<unsigned>(ch - 'a' + 10);
    return 0;
}

namespace {

// The digit at the cursor, which moves on unless it stands on the end of the text.
unsigned NextDigit(const char*& cursor) {
    if (*cursor == '\0')
        return 0;
    return HexDigitValue(*cursor++);
}

TString Formatted(const char* fmt, uint32_t high, uint32_t low) {
    char text[16];
    std::snprintf(text, sizeof text, fmt, static_cast<unsigned>(high), static_cast<unsigned>(low));
    return TString(text);
}

} // namespace

uint8_t HexByte(const char*& cursor) {
    const unsigned high = NextDigit(cursor);
    return static_cast<uint8_t>(high * 16 + NextDigit(cursor));
}

uint16_t HexWord(const char*& cursor) {
    const unsigned high = HexByte(cursor);
    return static_cast<uint16_t>(high * 256 + HexByte(cursor));
}

uint32_t Hex24(const char*& cursor) {
    const uint32_t high = HexWord(cursor);
    return high * 256 + HexByte(cursor);
}

uint32_t Hex32(const char*& cursor) {
    const uint32_t high = HexWord(cursor);
    return high * 65536 + HexWord(cursor);
}

TString ByteToHex(uint8_t value) {
    return Formatted("%02X", value, 0);
}

TString WordToHex(uint16_t value) {
    return Formatted("%04X", value, 0);
}

TString AddrToHex(uint32_t address) {
    return Formatted("0x%04X%04X", address >> 16, address & 0xFFFF);
}

TString AddrToHexDec(uint32_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X%04X (%d)", static_cast<unsigned>(address >> 16),
                  static_cast<unsigned>(address & 0xFFFF), static_cast<int>(address));
    return TString(text);
}

bool IsHexString(const char* text) {
    for (; *text; ++text) {
        const char c = *text;
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

TString HexDumpLine(const uint8_t* data, uint32_t address, int count) {
    static const char Digits[] = "0123456789ABCDEF";
    if (count < 0)
        count = 0;
    if (count > HexDumpRowBytes)
        count = HexDumpRowBytes;

    // 10 address characters, 2 blanks, 3 per byte, 4 blanks, 1 per byte.
    char line[10 + 2 + 3 * HexDumpRowBytes + 4 + HexDumpRowBytes + 1];
    std::snprintf(line, sizeof line, "0x%04X%04X  ", static_cast<unsigned>(address >> 16),
                  static_cast<unsigned>(address & 0xFFFF));
    char* out = line + 12;
    for (int i = 0; i < count; ++i) {
        *out++ = Digits[data[i] >> 4];
        *out++ = Digits[data[i] & 0x0F];
        *out++ = ' ';
    }
    for (int i = 0; i < 4; ++i)
        *out++ = ' ';
    for (int i = 0; i < count; ++i)
        *out++ = data[i] >= 0x20 && data[i] <= 0x7F ? static_cast<char>(data[i]) : '.';
    *out = '\0';
    return TString(line);
}

std::vector<TString> HexDumpLines(const uint8_t* data, uint32_t address, size_t length) {
    std::vector<TString> lines;
    lines.reserve((length + HexDumpRowBytes - 1) / HexDumpRowBytes);
    for (size_t offset = 0; offset < length; offset += HexDumpRowBytes) {
        const size_t rest = length - offset;
        const int count = rest < HexDumpRowBytes ? static_cast<int>(rest) : HexDumpRowBytes;
        lines.push_back(HexDumpLine(data + offset, address + static_cast<uint32_t>(offset), count));
    }
    return lines;
}
