#pragma once
// Everything korvex-cli writes while boards work: whole lines on stdout and stderr from several
// threads at once, and on a terminal a progress line per board on stderr, redrawn in place
// below the text. Also the small JSON writer of --json.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TCliConsole {
public:
    // The one console of the process.
    static TCliConsole& Instance();

    // quiet: nothing but errors. progress: draw progress lines when stderr is a terminal.
    void Configure(bool quiet, bool progress);

    // One or more lines on stdout (skipped when quiet), each after the prefix.
    void Out(const std::string& prefix, const std::string& text);
    // One or more lines on stderr, each after the prefix; shown even when quiet.
    void Err(const std::string& prefix, const std::string& text);
    // Text on stdout as it is, even when quiet (the JSON objects).
    void Raw(const std::string& text);

    // A progress line for a board: its slot. Lines appear in the order they were added.
    int AddProgress(const std::string& label);
    // The phase a board is in ("Synchronizing", "Programming" ...); resets the transfer figures.
    void SetPhase(int slot, const std::string& phase);
    // Bytes done of a transfer; the line shows percent, KB/s and the time left.
    void SetProgress(int slot, int64_t done, int64_t total);
    // Removes every progress line from the screen; later updates draw nothing.
    void EndProgress();

private:
    using TClock = std::chrono::steady_clock;
    struct TProgressLine {
        std::string Label;
        std::string Phase;
        int64_t Done = 0;
        int64_t Total = 0;
        TClock::time_point PhaseStart;
    };

    void Write(bool toStderr, const std::string& prefix, const std::string& text);
    void EraseDrawn(bool beforeStdout);
    void Draw(bool force);
    std::string Render(const TProgressLine& line, int width) const;

    std::mutex Lock;
    bool Quiet = false;
    bool ShowProgress = false;
    bool StdoutIsTerminal = false;
    std::vector<TProgressLine> Lines;
    int Drawn = 0; // progress lines on the screen now
    TClock::time_point LastDraw;
};

// A JSON object written key by key, in the order the keys are added.
class TJsonObject {
public:
    void AddString(const char* key, const std::string& value);
    void AddNumber(const char* key, int64_t value);
    void AddNumber(const char* key, double value, int decimals);
    void AddBool(const char* key, bool value);
    // value is JSON text already (an object or an array).
    void AddRaw(const char* key, const std::string& value);
    // Every key of another object, after those already here.
    void AddAll(const TJsonObject& other);
    std::string Text() const { return "{" + Body + "}"; }

private:
    void Key(const char* key);
    std::string Body;
};

// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// Text from a file made safe for a terminal: control characters (escape sequences, carriage
// returns, NULs ...) are shown as \r, \t or \xHH rather than acted upon.
std::string EscapeControlCharacters(const std::string& text);
