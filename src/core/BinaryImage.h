#pragma once
// Raw binary files: the file's bytes are the image, from address 0. Any content is a binary
// image, so this reader is the one asked last.

#include "ImageReader.h"

const TImageReader& BinaryReader();
