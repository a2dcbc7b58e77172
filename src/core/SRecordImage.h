#pragma once
// Motorola S-record files: S1, S2 and S3 data records with addresses of 16, 24 and 32 bits.

#include "ImageReader.h"

const TImageReader& SRecordReader();
