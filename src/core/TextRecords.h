#pragma once
// What the two text formats (Intel HEX and S-records) share: the file read as lines, each line
// decoded as one record by its format's decoder, in two passes (measure, then fill) so that the
// image is allocated once at its final size; and the failure texts of records.

#include "ImageReader.h"

#include <array>
#include <cstddef>
#include <cstdint>

enum class TRecordKind { Data, Base, Skip, Invalid, BadChecksum };

struct TRecord {
    TRecordKind Kind = TRecordKind::Skip;
    int64_t Address = 0;        // Data: target address of the first byte
    int Count = 0;              // Data: number of bytes
    const char* Data = nullptr; // Data: the first byte's two digits
    int64_t Base = 0;           // Base: the new upper address bits
    int Checksum = 0;           // BadChecksum: the record's checksum
    int Expected = 0;           // and the one its bytes call for

    static TRecord Invalid() {
        TRecord record;
        record.Kind = TRecordKind::Invalid;
        return record;
    }
    static TRecord WrongChecksum(uint32_t checksum, uint32_t expected) {
        TRecord record;
        record.Kind = TRecordKind::BadChecksum;
        record.Checksum = static_cast<int>(checksum & 0xFF);
        record.Expected = static_cast<int>(expected & 0xFF);
        return record;
    }
};

// Decodes the record in a line's first `fields` characters (the line end left out). base is
// the address base the records before it set. verify checks the data digits and the checksum,
// which the second pass, reading lines known to be good, can leave out.
using TRecordDecoder = TRecord (*)(const char* text, size_t fields, int64_t base, bool verify);

// Reads the records of file into image, gaps 0xFF, from the lowest address a data record
// defines to the highest; fails at the first record that decode finds bad (badRecord, or
// BadChecksum) with its line.
void ReadRecords(TRegularFileReader& file, TRecordDecoder decode, TImageFailure badRecord,
                 TImageReadResult& result, TFileImage& image);

// True when the first three bytes are marker and two decimal digits: how a record file starts.
bool StartsWithRecord(const char* first, char marker);

// The message for the failures both text formats share (a bad checksum, data too high, a file
// changed while read); formatName ("Intel HEX", "Motorola SREC") names the records.
std::optional<TImageMessage> RecordFailureMessage(const TImageReadResult& result,
                                                  const std::string& path, const char* formatName);

// ---------------------------------------------------------------------------------------------
// Hexadecimal digits for the decoders: every digit of every line passes through these.

namespace recordhex {

// Digit values, -1 for characters that are no hexadecimal digit.
constexpr std::array<int8_t, 256> MakeDigits() {
    std::array<int8_t, 256> digits{};
    for (int c = 0; c < 256; ++c)
        digits[c] = -1;
    for (int c = '0'; c <= '9'; ++c)
        digits[c] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        digits[c] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        digits[c] = static_cast<int8_t>(c - 'a' + 10);
    return digits;
}
inline constexpr std::array<int8_t, 256> Digits = MakeDigits();

} // namespace recordhex

inline int DigitValue(char c) {
    return recordhex::Digits[static_cast<unsigned char>(c)];
}

inline bool AllHex(const char* text, size_t count) {
    int check = 0;
    for (size_t i = 0; i < count; ++i)
        check |= DigitValue(text[i]);
    return check >= 0;
}

// The value of 2 * bytes hexadecimal digits, high byte first; the digits are known to be valid.
inline uint32_t HexValue(const char* text, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < 2 * bytes; ++i)
        value = (value << 4) | static_cast<uint32_t>(DigitValue(text[i]));
    return value;
}

// Adds up the bytes of 2 * count hexadecimal digits; false when one is no digit.
inline bool AddHexBytes(const char* text, size_t count, uint32_t& sum) {
    int check = 0;
    uint32_t total = 0;
    for (size_t i = 0; i < count; ++i, text += 2) {
        const int high = DigitValue(text[0]);
        const int low = DigitValue(text[1]);
        check |= high | low;
        total += (static_cast<uint32_t>(high) << 4) | static_cast<uint32_t>(low);
    }
    sum += total;
    return check >= 0;
}

// Only blanks may follow a record's checksum: anything else would be a second record run
// into the first, or a damaged one.
inline bool OnlyBlanks(const char* from, const char* to) {
    for (; from < to; ++from)
        if (*from != ' ' && *from != '\t')
            return false;
    return true;
}
