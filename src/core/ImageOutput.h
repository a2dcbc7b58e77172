#pragma once
// Memory read from a board, written as a file the loader (and srec_cat) reads back: raw binary,
// Intel HEX or Motorola S-records.

#include <cstdint>
#include <string>

enum class TOutputFormat { Binary, IntelHex, MotorolaS };

// "bin", "ihex" or "srec"; false for anything else.
bool OutputFormatFromName(const std::string& name, TOutputFormat& format);
// From the file name: .hex/.ihex Intel HEX; .srec/.s19/.s28/.s37/.mot S-records; else binary.
TOutputFormat OutputFormatFromPath(const std::string& path);
const char* OutputFormatName(TOutputFormat format);

// Intel HEX: 16 data bytes a record, an extended linear address record wherever the upper 16
// address bits change, records never crossing a 64 KiB boundary, the end-of-file record.
std::string IntelHexText(uint32_t address, const uint8_t* data, size_t length);

// S-records: a header, data records of 16 bytes with the shortest address field the range
// allows (but at least addressBytes, from the extension: 2 for .s19, 3 for .s28, 4 for .s37),
// a count record and the termination record carrying the start address.
std::string MotorolaText(uint32_t address, const uint8_t* data, size_t length, int addressBytes);

// The file's text or bytes in the format.
std::string ImageFileContents(TOutputFormat format, uint32_t address, const uint8_t* data,
                              size_t length, const std::string& path);
