#include "ImageReader.h"
#include "HexText.h"

#include <cstdarg>
#include <cstdio>
#include <new>

void TFileImage::Clear() {
    FBuffer.reset();
    FLength = 0;
}

bool TFileImage::Allocate(int32_t n) {
    Clear();
    if (n <= 0)
        return n == 0;
    FBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
    if (!FBuffer)
        return false;
    FLength = n;
    return true;
}

std::string ImageText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int needed = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (needed > 0) {
        text.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    return text;
}

std::string AddressText(int64_t value) {
    return static_cast<const char*>(AddrToHex(static_cast<uint32_t>(value)));
}
