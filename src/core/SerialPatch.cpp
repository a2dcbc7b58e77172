#include "SerialPatch.h"

#include "HexText.h"

#include <algorithm>

uint64_t TSerialFormat::Largest() const {
    if (Kind != Ascii)
        return 0xFFFFFFFFull;
    uint64_t largest = 0;
    for (int i = 0; i < Digits; ++i)
        largest = largest * 10 + 9;
    return largest;
}

std::string TSerialFormat::Name() const {
    switch (Kind) {
    case U32Le:
        return "u32le";
    case U32Be:
        return "u32be";
    case Ascii:
        break;
    }
    return "ascii:" + std::to_string(Digits);
}

bool ParseSerialFormat(const std::string& text, TSerialFormat& format, std::string& error) {
    if (text == "u32le" || text == "u32be") {
        format = {text == "u32le" ? TSerialFormat::U32Le : TSerialFormat::U32Be, 0};
        return true;
    }
    const std::string prefix = "ascii:";
    const std::string digits = text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : "";
    const bool number =
        !digits.empty() && digits.size() <= 2 && digits[0] != '0' &&
        std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    const int count = number ? std::stoi(digits) : 0;
    if (count < 1 || count > SerialMaxDigits) {
        error = "'" + text + "' is no serial number format: u32le, u32be or ascii:N (N from 1 to " +
                std::to_string(SerialMaxDigits) + " digits)";
        return false;
    }
    format = {TSerialFormat::Ascii, count};
    return true;
}

bool TSerialPlace::Inside(uint32_t imageStart, int64_t imageLength, std::string& error) const {
    const int64_t offset = int64_t{At} - imageStart;
    if (offset >= 0 && offset + Format.Width() <= imageLength)
        return true;
    const uint32_t last = imageStart + static_cast<uint32_t>(imageLength - 1);
    error = "the serial number's " + std::to_string(Format.Width()) + " bytes at " +
            AddrToHex(At)() + " do not lie inside the image (" + AddrToHex(imageStart)() + "-" +
            AddrToHex(last)() + ")";
    return false;
}

bool TSerialPlace::Encode(uint64_t number, std::vector<uint8_t>& bytes, std::string& error) const {
    if (number > Format.Largest()) {
        error = "serial number " + std::to_string(number) + " does not fit " + Format.Name() +
                " (at most " + std::to_string(Format.Largest()) + ")";
        return false;
    }
    const int width = Format.Width();
    bytes.assign(static_cast<size_t>(width), 0);
    for (int i = 0; i < width; ++i) {
        // Digits and big-endian bytes fill from the end, little-endian ones from the start.
        const int at = Format.Kind == TSerialFormat::U32Le ? i : width - 1 - i;
        if (Format.Kind == TSerialFormat::Ascii) {
            bytes[static_cast<size_t>(at)] = static_cast<uint8_t>('0' + number % 10);
            number /= 10;
        } else {
            bytes[static_cast<size_t>(at)] = static_cast<uint8_t>(number & 0xFF);
            number >>= 8;
        }
    }
    return true;
}

std::vector<uint8_t> TSerialPlace::Patched(const uint8_t* image, uint32_t imageStart,
                                           int64_t imageLength,
                                           const std::vector<uint8_t>& bytes) const {
    std::vector<uint8_t> copy(image, image + imageLength);
    std::copy(bytes.begin(), bytes.end(), copy.begin() + (At - imageStart));
    return copy;
}

std::string SerialPatchLine(uint64_t number, uint32_t at, const std::vector<uint8_t>& bytes) {
    std::string line = "serial number " + std::to_string(number) + " at " + AddrToHex(at)() + ":";
    for (const uint8_t byte : bytes)
        line += " " + std::string(ByteToHex(byte)());
    return line;
}
