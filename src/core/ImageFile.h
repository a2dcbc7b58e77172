#pragma once
// Reading a program image file (raw binary, Intel HEX, Motorola S-record or ELF) into one
// contiguous block of bytes: this picks the format's reader (ImageReader.h) by the file's first
// bytes. GUI-free: the reader shows nothing; it returns the image, or the failure with the
// details its message needs, and the window or the command line decides what the user sees.

#include "ImageReader.h"

#include <string>
#include <vector>

// "Binary", "Intel Hex", "Motorola S" or "ELF": the names the summary shows.
const char* ImageFormatName(TImageFormat format);

// Reads the file at path (the bytes of its name, as the file system holds them) into image.
// The image is empty after any failure. The format comes from the first bytes (four for ELF,
// three for the text formats); the name only refuses a file named like a text image that
// holds none, rather than loading it as a binary at address 0. Text files are read twice, to
// measure and then to fill, never held whole.
TImageReadResult ReadImageFile(const std::string& path, TFileImage& image);

// The message for a failed read of path: the texts of the format that failed, or of the failures
// every format shares.
TImageMessage ImageFailureMessage(const TImageReadResult& result, const std::string& path);

// The summary of a successful read: "Loaded file", "Type", "Start address", "End address" and
// "Length" lines; for ELF also the entry point and each segment.
std::vector<std::string> ImageSummaryLines(const TImageReadResult& result, const std::string& path);

// The one line that a reload reports instead of the summary, with the file's local time.
std::string ImageRefreshedLine(const TImageReadResult& result);
