#include "CliCommand.h"

#include "CliConsole.h"
#include "Ebdata.h"
#include "ImageFile.h"
#include "Settings.h"

#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void PrintCliError(const std::string& message) {
    std::fputs(message.c_str(), stderr);
    if (message.empty() || message.back() != '\n')
        std::fputc('\n', stderr);
}

// ---- Numbers ----------------------------------------------------------------------------------

bool ParseCliNumber(const std::string& text, bool allowUnit, uint64_t& value, std::string& error) {
    std::string digits = text;
    uint64_t unit = 1;
    if (allowUnit && !digits.empty()) {
        const char last =
            static_cast<char>(std::toupper(static_cast<unsigned char>(digits.back())));
        if (last == 'K' || last == 'M') {
            unit = last == 'K' ? 1024 : 1024 * 1024;
            digits.pop_back();
        }
    }
    const bool hex =
        digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hex)
        digits.erase(0, 2);
    if (digits.empty()) {
        error = "'" + text + "' is not a number";
        return false;
    }
    if (!hex && digits.size() > 1 && digits[0] == '0') {
        error = "'" + text + "' is ambiguous: write hexadecimal numbers with 0x (0x" + digits + ")";
        return false;
    }
    uint64_t number = 0;
    for (const char ch : digits) {
        int digit;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (hex && ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        else if (hex && ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else {
            error = "'" + text + "' is not a number (decimal, or hexadecimal after 0x)";
            return false;
        }
        number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (number > 0x100000000ull) { // past any 32-bit address or length
            error = "'" + text + "' is too large";
            return false;
        }
    }
    value = number * unit;
    return true;
}

std::function<std::string(const std::string&)> CliNumberCheck(bool allowUnit, uint64_t limit) {
    return [allowUnit, limit](const std::string& text) -> std::string {
        uint64_t value = 0;
        std::string error;
        if (!ParseCliNumber(text, allowUnit, value, error))
            return error;
        if (value > limit)
            return "'" + text + "' is too large";
        return std::string();
    };
}

uint64_t CliNumber(const std::string& text) {
    uint64_t value = 0;
    std::string error;
    if (!ParseCliNumber(text, true, value, error))
        throw TCliUsageError(error);
    return value;
}

// ---- Files ------------------------------------------------------------------------------------

// An existing file is overwritten in place and then cut to length: truncating it to nothing
// first makes some file systems (ext4) flush it to disk on close, which costs more than the
// whole conversion. Devices and links are never removed. The name is used as the bytes given,
// so that any name the file system can hold is written as it stands.
bool WriteOutputFile(const std::string& path, const uint8_t* data, int64_t length) {
    int handle = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (handle < 0)
        handle = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (handle < 0)
        return false;
    bool written = true;
    for (int64_t done = 0; written && done < length;) {
        const ssize_t put = write(handle, data + done, static_cast<size_t>(length - done));
        if (put < 0 && errno == EINTR)
            continue;
        written = put > 0;
        done += written ? put : 0;
    }
    // A regular file, reached directly or through a link, is cut to length.
    struct stat status;
    if (written && fstat(handle, &status) == 0 && S_ISREG(status.st_mode))
        written = ftruncate(handle, static_cast<off_t>(length)) == 0;
    written = close(handle) == 0 && written;
    if (written)
        return true;
    if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        unlink(path.c_str());
    return false;
}

std::string WriteFailureMessage(const std::string& path) {
    return "Unable to write file:\n" + path;
}

// ---- Images -------------------------------------------------------------------------------------

std::string CliImageFailureMessage(const TImageReadResult& result, const std::string& path) {
    // The record's text comes from the file: its line end goes (the message ends there), and
    // whatever else could steer the terminal is shown escaped.
    TImageReadResult shown = result;
    std::string& line = shown.LineText;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    line = EscapeControlCharacters(line);
    return ImageFailureMessage(shown, path).Text;
}

bool LoadCommandImage(const std::string& path, TFileImage& image, TImageReadResult& result) {
    result = ReadImageFile(path, image);
    if (!result.Ok()) {
        PrintCliError(CliImageFailureMessage(result, path));
        return false;
    }
    if (image.Length() == 0) {
        PrintCliError("The file holds no data:\n" + path);
        return false;
    }
    return true;
}

uint32_t CommandImageAddress(const std::string& given, const TImageReadResult& result) {
    if (!given.empty())
        return static_cast<uint32_t>(CliNumber(given));
    if (!result.HasOwnStart())
        throw TCliUsageError("a binary file holds no address: give it with --address");
    return static_cast<uint32_t>(result.Start);
}

// ---- Settings ---------------------------------------------------------------------------------

namespace {

// The TypeDefs text the commands work with: the stored one, or, when the window never ran, the
// one its factory import would store from the built-in rows (not stored here).
TString BoardTypeDefs(bool* builtIn) {
    TSettingsKey key;
    // Only a missing value means that the window never ran: an empty list is the user's choice.
    *builtIn = !key.ValueExists("TypeDefs");
    if (!*builtIn)
        return key.ReadString("TypeDefs");
    TString typeDefs, report;
    BuildFactoryTypeDefs(BuiltInFactoryRows(), &typeDefs, &report);
    return typeDefs;
}

} // namespace

std::vector<TTypeDef> AvailableBoardTypes(bool* builtIn) {
    return SplitTypeDefs(BoardTypeDefs(builtIn));
}

std::string WantedTypeName(const std::string& given) {
    if (!given.empty())
        return given;
    TSettingsKey key;
    return key.ReadString("LastType")();
}

std::unique_ptr<TEBData> CommandBoardType(const std::string& given, TTypeNeed need) {
    const std::string wanted = WantedTypeName(given);
    bool builtIn = false;
    const TString typeDefs = BoardTypeDefs(&builtIn);
    TTypeDef entry;
    if (!FindTypeDef(typeDefs, TString(wanted.c_str()), &entry)) {
        if (!given.empty())
            throw TCliUsageError("no board type is named '" + given +
                                 "' ('korvex-cli types' lists them)");
        if (SplitTypeDefs(typeDefs).empty())
            PrintCliError("No board types are stored: add one in the window's preferences.");
        else
            PrintCliError("The window's current board type '" + wanted +
                          "' is not stored any more: give one with --type ('korvex-cli types' "
                          "lists them).");
        return nullptr;
    }
    std::unique_ptr<TEBData> type = BuildTypeDef(entry);
    const std::string name = entry.Name();
    if (need == TTypeNeed::Sectors && type->GetSectorCount() == 0) {
        PrintCliError("Board type " + name + " has no flash sectors.");
        return nullptr;
    }
    if (need == TTypeNeed::Sram && type->GetSramSize() == 0) {
        PrintCliError("Board type " + name + " has no SRAM to upload to.");
        return nullptr;
    }
    return type;
}

std::vector<std::string> ResolvePorts(const std::vector<std::string>& given, bool severalAllowed) {
    std::vector<std::string> ports;
    std::vector<QString> devices; // where links lead, so that one port is not given twice
    for (const std::string& port : given) {
        if (port.empty())
            throw TCliUsageError("empty port name");
        const QString name = QString::fromLocal8Bit(port.c_str());
        const QString canonical = QFileInfo(name).canonicalFilePath();
        const QString device = canonical.isEmpty() ? name : canonical;
        for (size_t i = 0; i < ports.size(); ++i)
            if (devices[i] == device)
                throw TCliUsageError(ports[i] == port ? "port '" + port + "' given twice"
                                                      : "'" + ports[i] + "' and '" + port +
                                                            "' are the same port");
        ports.push_back(port);
        devices.push_back(device);
    }
    if (ports.size() > 1 && !severalAllowed)
        throw TCliUsageError("this command works on one board: give --port once");
    if (ports.empty()) {
        TSettingsKey key;
        const TString stored = key.ReadString("SerialPort");
        if (stored.IsBlank())
            throw TCliUsageError(
                "no port given, and none stored by the window: give --port ('korvex-cli ports' "
                "lists them)");
        ports.push_back(stored());
    }
    return ports;
}
