#pragma once
// Reading what a GNU ARM linker wrote: the loadable segments of a 32-bit little-endian ARM ELF
// executable, placed at their load addresses in one block, gaps 0xFF.

#include "ImageReader.h"

const TImageReader& ElfReader();
