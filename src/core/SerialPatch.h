#pragma once
// A board's own number in its own copy of the image: how the number is written (a 32-bit word
// in either byte order, or a run of zero-padded decimal digits), whether it fits there and
// whether its place lies inside the image, and the copy with the number in it. GUI-free.

#include <cstdint>
#include <string>
#include <vector>

struct TSerialFormat {
    enum TKind { U32Le, U32Be, Ascii } Kind = U32Le;
    int Digits = 0; // of Ascii

    int Width() const { return Kind == Ascii ? Digits : 4; }
    // The largest number the format holds.
    uint64_t Largest() const;
    // "u32le", "u32be", "ascii:8"
    std::string Name() const;
};

// The most digits of an ascii format: every number then stays exact in a JSON record.
constexpr int SerialMaxDigits = 15;

// "u32le", "u32be" or "ascii:N" (N from 1 to SerialMaxDigits); false with the reason.
bool ParseSerialFormat(const std::string& text, TSerialFormat& format, std::string& error);

// Where and how the number goes into an image that starts at ImageStart.
struct TSerialPlace {
    TSerialFormat Format;
    uint32_t At = 0;

    // The number's bytes lie wholly inside the image; false with the reason.
    bool Inside(uint32_t imageStart, int64_t imageLength, std::string& error) const;
    // The bytes the number becomes; false with the reason when it does not fit the format.
    bool Encode(uint64_t number, std::vector<uint8_t>& bytes, std::string& error) const;
    // A copy of the image with bytes at At. The place must be Inside the image.
    std::vector<uint8_t> Patched(const uint8_t* image, uint32_t imageStart, int64_t imageLength,
                                 const std::vector<uint8_t>& bytes) const;
};

// "serial number 1234 at 0x01040010: D2 04 00 00"
std::string SerialPatchLine(uint64_t number, uint32_t at, const std::vector<uint8_t>& bytes);
