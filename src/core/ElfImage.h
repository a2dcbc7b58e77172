#pragma once
// Reading what a GNU ARM linker wrote: the loadable segments of a 32-bit little-endian ARM ELF
// executable, placed at their load addresses in one block, gaps 0xFF.

#include "ImageFile.h"

#include <cstddef>

class TRegularFileReader;

// The four bytes every ELF file starts with.
bool HasElfMark(const char* first, size_t size);

// Reads the ELF executable in file (opened, at any position) into image and fills in result:
// the span, the segments and the entry point, or the failure with its details. The image is
// left empty on failure.
void ReadElfImage(TRegularFileReader& file, TImageReadResult& result, TFileImage& image);

// The name of an ELF machine number for messages: "x86-64", "AArch64", or "machine 1234".
std::string ElfMachineName(int machine);
