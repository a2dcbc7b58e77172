#include "FlashCheck.h"

#include "HexText.h"
#include "Misc.h"
#include "SilentBoard.h"

namespace {

// No ledger of port vouches any longer for the sectors the range overlaps.
void Forget(const std::string& port, const TFlashRange& range, std::string* warning) {
    std::string error;
    if (range.Length > 0 && !MarkPortPending(port, {range}, &error) && warning)
        *warning = error;
}

std::string Hex(uint32_t address) {
    return AddrToHex(address)();
}

} // namespace

TMonitorResult VerifyAndForget(TBootMonitor& monitor, const std::string& port, uint32_t address,
                               const uint8_t* data, int64_t length, bool readBackFollows,
                               std::string* warning) {
    const TMonitorResult verified = monitor.VerifyRange(address, data, length);
    if (verified.Status == TMonitorStatus::Refused && !readBackFollows)
        Forget(port, {address, length}, warning);
    return verified;
}

TReadBack ReadBackAndForget(TBootMonitor& monitor, const std::string& port, uint32_t address,
                            const uint8_t* data, int64_t length, const TProgressHook& progress) {
    TReadBack readBack;
    std::vector<uint8_t> onBoard;
    readBack.Read = monitor.ReadRange(address, length, onBoard, nullptr, progress);
    if (!readBack.Read.Ok()) {
        readBack.Forgotten = {address, length};
        Forget(port, readBack.Forgotten, &readBack.Warning);
        return readBack;
    }
    uint32_t last = 0;
    for (int64_t i = 0; i < length; ++i) {
        const uint8_t board = onBoard[static_cast<size_t>(i)];
        if (board == data[i])
            continue;
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (readBack.Differing == 0)
            readBack.Forgotten.Start = at;
        last = at;
        if (readBack.Differing < ShownDifferences)
            readBack.FirstShown.push_back({at, board, data[i]});
        ++readBack.Differing;
    }
    if (readBack.Differing > 0) {
        readBack.Forgotten.Length = int64_t{last} - readBack.Forgotten.Start + 1;
        Forget(port, readBack.Forgotten, &readBack.Warning);
    }
    return readBack;
}

std::string ReadBackSameLine(int64_t length, uint32_t address) {
    return FormatText("%lld bytes at %s read back OK.", static_cast<long long>(length),
                      Hex(address).c_str());
}

std::vector<std::string> ReadBackDifferenceLines(const TReadBack& readBack) {
    std::vector<std::string> lines;
    for (const TByteDifference& byte : readBack.FirstShown)
        lines.push_back(FormatText("%s: board 0x%02X, file 0x%02X", Hex(byte.Address).c_str(),
                                   unsigned{byte.Board}, unsigned{byte.File}));
    if (readBack.Differing > ShownDifferences)
        lines.push_back("...");
    lines.push_back(FormatText("%lld bytes differ.", static_cast<long long>(readBack.Differing)));
    return lines;
}

std::string ReadBackDifferLine(const TReadBack& readBack) {
    return FormatText("%lld bytes differ, the first at %s.",
                      static_cast<long long>(readBack.Differing),
                      Hex(readBack.Forgotten.Start).c_str());
}

TMonitorMessage ReadBackFailure(const TReadBack& readBack) {
    if (!readBack.Read.Ok())
        return WithAnswerLines(ReadFailure(readBack.Read), readBack.Read);
    return {"Data verification failed.\n" + ReadBackDifferLine(readBack), MB_ICONEXCLAMATION};
}
