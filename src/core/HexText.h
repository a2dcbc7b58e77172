// Hexadecimal text: parsing digits at a cursor, the program's one look for hexadecimal output
// (upper case; addresses as "0x" and eight digits) and the lines of a memory dump.
#pragma once

#include "TString.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// 0..15 for '0'-'9', 'A'-'F' and 'a'-'f'; 0 for any other character.
unsigned HexDigitValue(char ch);

// Each reads its digits at `cursor` and advances it past them, high digits first. They do not
// validate; callers check the text first. A parser never moves past the terminating NUL: digits
// missing at the end of the text count as 0.
uint8_t HexByte(const char*& cursor);
uint16_t HexWord(const char*& cursor);
uint32_t Hex24(const char*& cursor);
uint32_t Hex32(const char*& cursor);

TString ByteToHex(uint8_t value);       // "0A"
TString WordToHex(uint16_t value);      // "001F"
TString AddrToHex(uint32_t address);    // "0x01000000"
TString AddrToHexDec(uint32_t address); // "0x00000100 (256)", "0xFFFFFFFF (-1)"

// True when every character is '0'-'9' or 'A'-'F' (upper case only); the empty text is true.
bool IsHexString(const char* text);

// Bytes shown per dump line.
constexpr int HexDumpRowBytes = 16;

// One dump line for the `count` bytes (at most 16) at target address `address`: the address,
// the bytes in hexadecimal and the printable ones as characters.
TString HexDumpLine(const uint8_t* data, uint32_t address, int count);

// The dump of `length` bytes in lines of 16, the last line possibly shorter; no bytes, no lines.
std::vector<TString> HexDumpLines(const uint8_t* data, uint32_t address, size_t length);
