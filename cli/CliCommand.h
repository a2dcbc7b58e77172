#pragma once
// The commands of korvex-cli. Each command lives in a file of its own and adds itself to the
// command table: its name, usage and help, its options (parsed by CLI11) and the function that
// runs it once the command line has been read.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}
class TEBData;
class TFileImage;
struct TImageReadResult;
struct TTypeDef;

enum TCliExit : int {
    CliExitOk = 0,
    CliExitFailure = 1,      // the command ran and failed (the message went to stderr)
    CliExitUsage = 2,        // the command line itself is wrong
    CliExitInterrupted = 130 // stopped by Ctrl+C; by another signal: 128 + its number
};

extern const char* const CliProgramName;

// A wrong command line that only the command itself can tell (a binary file without
// --address, a port given twice ...): reported like a parse error, with exit code 2.
class TCliUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCliCommandText {
    const char* Name;
    const char* Arguments; // shown after the name in the usage line
    const char* Summary;   // one line for the command list
    const char* Details;   // shown after the options in the command's help; may be empty
};

class TCliCommands {
public:
    explicit TCliCommands(CLI::App& program);

    // Adds a command; the command adds its options to the parser returned.
    CLI::App* Add(const TCliCommandText& text, std::function<int()> run);

    // Reads the command line and runs the command it names; the exit code.
    int Run(int argc, char** argv);

private:
    struct TEntry {
        TCliCommandText Text;
        CLI::App* Parser;
        std::function<int()> Run;
    };
    const TEntry* Find(const std::string& name) const;
    // The help of the program and of each command, and --version.
    void InstallHelp();
    // "help" and "help COMMAND".
    int ShowHelp(const std::string& topic) const;
    // Runs the command the command line named.
    int RunParsed() const;
    int UsageError(const TEntry* entry, const std::string& message) const;

    CLI::App& Program;
    std::vector<TEntry> Entries;
};

void AddSyncCommand(TCliCommands& commands);
void AddReadCommand(TCliCommands& commands);
void AddEraseCommand(TCliCommands& commands);
void AddProgramCommand(TCliCommands& commands);
void AddVerifyCommand(TCliCommands& commands);
void AddSramCommand(TCliCommands& commands);
void AddTypesCommand(TCliCommands& commands);
void AddInfoCommand(TCliCommands& commands);
void AddPortsCommand(TCliCommands& commands);
void AddStationCommand(TCliCommands& commands);

// --- Helpers that commands share ---

// Writes a message to stderr, ending it with exactly one line feed.
void PrintCliError(const std::string& message);

// Numbers on the command line: decimal, or hexadecimal after "0x". Lengths may end in K or M
// (1024 and 1048576 bytes). A decimal number with a leading zero is refused as ambiguous: the
// window takes every address in hexadecimal, and "01000000" must not quietly mean a million.
bool ParseCliNumber(const std::string& text, bool allowUnit, uint64_t& value, std::string& error);
// The CLI11 check of an address or length option, and the value it holds after parsing.
std::function<std::string(const std::string&)> CliNumberCheck(bool allowUnit, uint64_t limit);
uint64_t CliNumber(const std::string& text);

// Where an output file's bytes go: a file replaced whole (links followed), a device or pipe
// written as it stands, or stdout ("-", /dev/stdout).
struct TOutputTarget {
    enum TKind { File, Device, Stdout } Kind = File;
    std::string Path;
};
// Checks, before any work is done, that the output can be written: not a folder, the folder
// it goes into exists and may be written. False with the system's reason.
bool CheckOutputFile(const std::string& path, TOutputTarget& target, std::string& reason);
// Writes the bytes. A file is written beside the target and renamed over it only once it is
// whole: a failure never spoils an existing file nor leaves a partial one. False with the
// system's reason.
bool WriteOutputFile(const TOutputTarget& target, const uint8_t* data, int64_t length,
                     std::string& reason);
bool WriteOutputFile(const std::string& path, const uint8_t* data, int64_t length);
// "Unable to write file:\n<path>\n<reason>"
std::string WriteFailureMessage(const std::string& path, const std::string& reason = {});

// The reader's message for a failed read, fit for a terminal: the record line it quotes has
// its control characters escaped.
std::string CliImageFailureMessage(const TImageReadResult& result, const std::string& path);
// Reads the image a command works on; false after the loader's message went to stderr (also
// for a file without any data).
bool LoadCommandImage(const std::string& path, TFileImage& image, TImageReadResult& result);
// The address given, else the file's own start address; a binary file has none and needs
// --address (TCliUsageError).
uint32_t CommandImageAddress(const std::string& given, const TImageReadResult& result);

// --- Settings, read from the window's store and never written ---

// The board types the store holds, or, when it holds none yet, the built-in factory types;
// builtIn tells which.
std::vector<TTypeDef> AvailableBoardTypes(bool* builtIn);
// The name of the type a command works with: the one given, else the stored LastType (may be
// empty: then the first type is taken).
std::string WantedTypeName(const std::string& given);
// The board type a command works with (--type, else the window's current type), built from
// its stored entry and checked for what the command needs. Null when there is none or it lacks
// that, after the reason went to stderr; throws TCliUsageError when --type names no type.
enum class TTypeNeed { Sectors, Sram };
std::unique_ptr<TEBData> CommandBoardType(const std::string& given, TTypeNeed need);
// The ports given, or the stored SerialPort when none was. Throws TCliUsageError when there is
// none, a port is given twice, or several are given to a command for one board.
std::vector<std::string> ResolvePorts(const std::vector<std::string>& given, bool severalAllowed);
