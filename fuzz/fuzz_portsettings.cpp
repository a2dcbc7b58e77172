// Serial settings texts "device:baud,parity,data bits,stop bits". No port is opened: the texts
// handed to TComms::Open name a device inside a folder that does not exist.
// Properties: an accepted text yields line parameters in range, and the text formatted again
// from them reads the same; Open keeps the whole text it was given, never a part of it.

#include "Comm.h"
#include "FuzzSupport.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void CheckParsed(const std::string& text) {
    TPortSettings settings;
    if (!ParsePortSettings(text.c_str(), settings))
        return;
    // Device names are in the local 8-bit encoding.
    const QByteArray device = settings.Device.toLocal8Bit();
    FUZZ_CHECK(!device.isEmpty() && device.trimmed() == device, "device \"%s\" from \"%s\"",
               device.constData(), text.c_str());
    FUZZ_CHECK(settings.BaudRate > 0 && std::strchr("NEOMS", settings.Parity) &&
                   settings.Parity != '\0' && settings.DataBits >= 5 && settings.DataBits <= 8 &&
                   (settings.StopBits == 10 || settings.StopBits == 15 || settings.StopBits == 20),
               "\"%s\" gave %d,%c,%d,%d", text.c_str(), settings.BaudRate, settings.Parity,
               settings.DataBits, settings.StopBits);

    const char* stop = settings.StopBits == 10 ? "1" : settings.StopBits == 15 ? "1.5" : "2";
    const std::string again = device.toStdString() + ":" + std::to_string(settings.BaudRate) + "," +
                              settings.Parity + "," + std::to_string(settings.DataBits) + "," +
                              stop;
    TPortSettings reread;
    FUZZ_CHECK(ParsePortSettings(again.c_str(), reread) && reread.Device == settings.Device &&
                   reread.BaudRate == settings.BaudRate && reread.Parity == settings.Parity &&
                   reread.DataBits == settings.DataBits && reread.StopBits == settings.StopBits,
               "\"%s\" formatted as \"%s\" reads differently", text.c_str(), again.c_str());
}

// The device is a path inside a folder that does not exist, named with name characters from
// the input; the rest of the text loses its slashes, so that however Open splits the text, the
// device it tries cannot be a real one.
std::string AbsentDeviceText(const std::string& suffix, const std::string& line) {
    std::string name;
    for (char c : suffix)
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')
            name += c;
    std::string rest;
    for (char c : line)
        if (c != '/')
            rest += c;
    return ScratchFolder() + "/absent/port-" + name + ":" + rest;
}

void CheckOpenKeepsText(const std::string& text) {
    TComms port;
    const bool opened = port.Open(text.c_str());
    FUZZ_CHECK(!opened && !port.IsOpen(), "\"%s\" opened a port", text.c_str());
    const char* kept = port.GetSettings();
    const size_t keptLength = std::strlen(kept);
    FUZZ_CHECK(text == kept || keptLength >= text.size() || text.compare(0, keptLength, kept) != 0,
               "Open was given \"%s\" and kept only \"%s\"", text.c_str(), kept);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    CheckParsed(text);
    const size_t colon = text.find(':');
    if (colon != std::string::npos)
        CheckOpenKeepsText(AbsentDeviceText(text.substr(0, colon), text.substr(colon + 1)));
    return 0;
}
