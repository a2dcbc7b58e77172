#include "TransferRate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string TransferRateText(int64_t doneBytes, int64_t totalBytes, double elapsedMs) {
    if (doneBytes <= 0 || elapsedMs <= 0)
        return std::string();
    const double bytesPerSecond = static_cast<double>(doneBytes) * 1000.0 / elapsedMs;
    const int64_t left = std::max<int64_t>(totalBytes - doneBytes, 0);
    const auto seconds = static_cast<int64_t>(std::ceil(left / bytesPerSecond));
    char text[64];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%.1f KB/s, %lld:%02d:%02d left", bytesPerSecond / 1024,
                      static_cast<long long>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                      static_cast<int>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%.1f KB/s, %d:%02d left", bytesPerSecond / 1024,
                      static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    return text;
}
