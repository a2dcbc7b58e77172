#include "ImageOutput.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr size_t RecordBytes = 16;

std::string Lower(std::string text) {
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    return Lower(path.substr(dot + 1));
}

void AppendHex(std::string& text, uint32_t value, int digits) {
    static const char Digits[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        text += Digits[(value >> shift) & 0xF];
}

// One Intel record: ':', count, address, type, data, and the two's complement of their sum.
void IntelRecord(std::string& text, uint8_t type, uint16_t address, const uint8_t* data,
                 size_t count) {
    uint8_t sum = static_cast<uint8_t>(count + (address >> 8) + (address & 0xFF) + type);
    text += ':';
    AppendHex(text, static_cast<uint32_t>(count), 2);
    AppendHex(text, address, 4);
    AppendHex(text, type, 2);
    for (size_t i = 0; i < count; ++i) {
        AppendHex(text, data[i], 2);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    AppendHex(text, static_cast<uint8_t>(-sum), 2);
    text += '\n';
}

// One S-record: 'S', type, count of the bytes after it, address, data, and the ones'
// complement of their sum.
void MotorolaRecord(std::string& text, char type, uint32_t address, int addressBytes,
                    const uint8_t* data, size_t count) {
    const size_t length = static_cast<size_t>(addressBytes) + count + 1;
    uint8_t sum = static_cast<uint8_t>(length);
    text += 'S';
    text += type;
    AppendHex(text, static_cast<uint32_t>(length), 2);
    for (int i = addressBytes - 1; i >= 0; --i) {
        const uint8_t byte = static_cast<uint8_t>(address >> (8 * i));
        AppendHex(text, byte, 2);
        sum = static_cast<uint8_t>(sum + byte);
    }
    for (size_t i = 0; i < count; ++i) {
        AppendHex(text, data[i], 2);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    AppendHex(text, static_cast<uint8_t>(~sum), 2);
    text += '\n';
}

} // namespace

bool OutputFormatFromName(const std::string& name, TOutputFormat& format) {
    if (name == "bin")
        format = TOutputFormat::Binary;
    else if (name == "ihex")
        format = TOutputFormat::IntelHex;
    else if (name == "srec")
        format = TOutputFormat::MotorolaS;
    else
        return false;
    return true;
}

TOutputFormat OutputFormatFromPath(const std::string& path) {
    const std::string extension = Extension(path);
    if (extension == "hex" || extension == "ihex")
        return TOutputFormat::IntelHex;
    for (const char* motorola : {"srec", "s19", "s28", "s37", "mot"})
        if (extension == motorola)
            return TOutputFormat::MotorolaS;
    return TOutputFormat::Binary;
}

const char* OutputFormatName(TOutputFormat format) {
    switch (format) {
    case TOutputFormat::IntelHex:
        return "ihex";
    case TOutputFormat::MotorolaS:
        return "srec";
    case TOutputFormat::Binary:
        break;
    }
    return "bin";
}

std::string IntelHexText(uint32_t address, const uint8_t* data, size_t length) {
    std::string text;
    text.reserve(length * 45 / 16 + 64);
    uint32_t upper = 0; // the extended linear address in force; 0 until one is written
    size_t done = 0;
    while (done < length) {
        const uint64_t at = static_cast<uint64_t>(address) + done;
        const uint32_t high = static_cast<uint32_t>(at >> 16);
        if (high != upper) {
            const uint8_t base[2] = {static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high)};
            IntelRecord(text, 0x04, 0, base, 2);
            upper = high;
        }
        const size_t toBoundary = 0x10000 - static_cast<size_t>(at & 0xFFFF);
        const size_t count = std::min({RecordBytes, length - done, toBoundary});
        IntelRecord(text, 0x00, static_cast<uint16_t>(at & 0xFFFF), data + done, count);
        done += count;
    }
    IntelRecord(text, 0x01, 0, nullptr, 0);
    return text;
}

std::string MotorolaText(uint32_t address, const uint8_t* data, size_t length, int addressBytes) {
    const uint64_t last = static_cast<uint64_t>(address) + (length ? length - 1 : 0);
    int bytes = std::clamp(addressBytes, 2, 4);
    while (bytes < 4 && last >> (8 * bytes) != 0)
        ++bytes;
    const char dataType = static_cast<char>('1' + (bytes - 2));
    const char endType = static_cast<char>('9' - (bytes - 2));

    std::string text;
    text.reserve(length * (14 + 2 * static_cast<size_t>(bytes)) / 16 + 64);
    MotorolaRecord(text, '0', 0, 2, nullptr, 0);
    size_t records = 0;
    for (size_t done = 0; done < length; done += RecordBytes, ++records)
        MotorolaRecord(text, dataType, static_cast<uint32_t>(address + done), bytes, data + done,
                       std::min(RecordBytes, length - done));
    // The 16-bit count record only when the count fits it.
    if (records <= 0xFFFF)
        MotorolaRecord(text, '5', static_cast<uint32_t>(records), 2, nullptr, 0);
    MotorolaRecord(text, endType, address, bytes, nullptr, 0);
    return text;
}

std::string ImageFileContents(TOutputFormat format, uint32_t address, const uint8_t* data,
                              size_t length, const std::string& path) {
    switch (format) {
    case TOutputFormat::IntelHex:
        return IntelHexText(address, data, length);
    case TOutputFormat::MotorolaS: {
        const std::string extension = Extension(path);
        const int bytes = extension == "s37" ? 4 : extension == "s28" ? 3 : 2;
        return MotorolaText(address, data, length, bytes);
    }
    case TOutputFormat::Binary:
        break;
    }
    return std::string(reinterpret_cast<const char*>(data), length);
}
