#include "CliCommand.h"

#include "CliConsole.h"
#include "Ebdata.h"
#include "ImageFile.h"
#include "Settings.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void PrintCliError(const std::string& message) {
    std::fputs(message.c_str(), stderr);
    if (message.empty() || message.back() != '\n')
        std::fputc('\n', stderr);
}

// ---- Numbers ----------------------------------------------------------------------------------

namespace {

// Decimal digits after a leading zero, perhaps grouped as the types table shows addresses
// ("0100 0000"), were most likely meant as hexadecimal; meant: the digits without the spaces.
bool MeantAsHexadecimal(const std::string& digits, std::string& meant) {
    if (digits.size() < 2 || digits[0] != '0')
        return false;
    for (const char ch : digits) {
        if (ch != ' ' && (ch < '0' || ch > '9'))
            return false;
        if (ch != ' ')
            meant += ch;
    }
    return true;
}

} // namespace

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
        digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hex)
        digits.erase(0, 2);
    if (digits.empty()) {
        error = "'" + text + "' is not a number";
        return false;
    }
    std::string meant;
    if (!hex && MeantAsHexadecimal(digits, meant)) {
        error = "'" + text + "' is ambiguous: write hexadecimal numbers with 0x (0x" + meant + ")";
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

namespace {

std::string SystemReason(int error) {
    return std::strerror(error);
}

// The name stands for this program's stdout ("-", /dev/stdout, /proc/self/fd/1 ...).
bool IsStdout(const std::string& path) {
    if (path == "-")
        return true;
    struct stat named, out;
    return stat(path.c_str(), &named) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

bool WriteAll(int handle, const uint8_t* data, int64_t length) {
    for (int64_t done = 0; done < length;) {
        const ssize_t put = write(handle, data + done, static_cast<size_t>(length - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}

// A new file's mode as open() would give it.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The bytes into a temporary file beside the target, renamed over it once they are all
// written: a full disk or any other failure leaves an existing file as it was.
bool ReplaceFile(const std::string& path, const uint8_t* data, int64_t length,
                 std::string& reason) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temporary = folder + (slash == std::string::npos ? "/" : "") + ".korvex-XXXXXX";
    const int handle = mkstemp(&temporary[0]);
    if (handle < 0) {
        reason = SystemReason(errno);
        return false;
    }
    struct stat existing;
    const mode_t mode =
        stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : NewFileMode();
    bool written = WriteAll(handle, data, length) && fchmod(handle, mode) == 0;
    int error = errno;
    if (close(handle) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        reason = SystemReason(error);
    }
    return written;
}

} // namespace

bool CheckOutputFile(const std::string& path, TOutputTarget& target, std::string& reason) {
    target = {TOutputTarget::Stdout, path};
    if (IsStdout(path))
        return true;
    if (path.empty() || path.back() == '/') {
        reason = SystemReason(path.empty() ? ENOENT : EISDIR);
        return false;
    }
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            reason = SystemReason(EISDIR);
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            // A device or a pipe is written as it stands, never replaced.
            target.Kind = TOutputTarget::Device;
            if (access(path.c_str(), W_OK) != 0) {
                reason = SystemReason(errno);
                return false;
            }
            return true;
        }
        // A file the user may not write is not replaced behind their back.
        if (access(path.c_str(), W_OK) != 0) {
            reason = SystemReason(errno);
            return false;
        }
        // A link is followed: the file it leads to is replaced, the link stays.
        if (char* real = realpath(path.c_str(), nullptr)) {
            target.Path = real;
            std::free(real);
        }
    } else if (errno != ENOENT) {
        reason = SystemReason(errno);
        return false;
    }
    target.Kind = TOutputTarget::File;
    const size_t slash = target.Path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.Path.substr(0, slash);
    if (stat(folder.c_str(), &status) != 0 || access(folder.c_str(), W_OK | X_OK) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        reason = SystemReason(ENOTDIR);
        return false;
    }
    return true;
}

bool WriteOutputFile(const TOutputTarget& target, const uint8_t* data, int64_t length,
                     std::string& reason) {
    if (target.Kind == TOutputTarget::File)
        return ReplaceFile(target.Path, data, length, reason);
    const int handle = target.Kind == TOutputTarget::Stdout
                           ? STDOUT_FILENO
                           : open(target.Path.c_str(), O_WRONLY | O_CLOEXEC);
    bool written = handle >= 0 && WriteAll(handle, data, length);
    int error = errno;
    if (handle >= 0 && target.Kind == TOutputTarget::Device && close(handle) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written)
        reason = SystemReason(error);
    return written;
}

bool WriteOutputFile(const std::string& path, const uint8_t* data, int64_t length) {
    TOutputTarget target;
    std::string reason;
    return CheckOutputFile(path, target, reason) && WriteOutputFile(target, data, length, reason);
}

std::string WriteFailureMessage(const std::string& path, const std::string& reason) {
    return "Unable to write file:\n" + path + (reason.empty() ? "" : "\n" + reason);
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

namespace {

// The device a port name opens: the serial port takes a name without a folder ("ttyUSB0",
// "pts/3") from /dev; links are followed.
std::string PortDevice(const std::string& name) {
    const bool path = name[0] == '/' || name.rfind("./", 0) == 0 || name.rfind("../", 0) == 0;
    const std::string device = path ? name : "/dev/" + name;
    char* real = realpath(device.c_str(), nullptr);
    if (!real)
        return device;
    const std::string resolved = real;
    std::free(real);
    return resolved;
}

} // namespace

std::vector<std::string> ResolvePorts(const std::vector<std::string>& given, bool severalAllowed) {
    std::vector<std::string> ports;
    std::vector<std::string> devices; // so that one port is not given twice under two names
    for (const std::string& port : given) {
        if (port.empty())
            throw TCliUsageError("empty port name");
        const std::string device = PortDevice(port);
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
