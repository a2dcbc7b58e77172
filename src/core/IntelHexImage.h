#pragma once
// Intel HEX files: data records placed by extended segment or linear address records.

#include "ImageReader.h"

const TImageReader& IntelHexReader();
