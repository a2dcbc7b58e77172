#pragma once
// Everything korvex-cli writes while boards work: whole lines on stdout and stderr from several
// threads at once, and on a terminal a progress line per board on stderr, redrawn in place
// below the text. Also the JSON fields of --json.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <QJsonObject>
#include <QJsonValue>

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
    // Stdout carries data (read -o -): the lines of Out and Raw go to stderr instead.
    void KeepStdoutForData();

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
    void Put(bool toStderr, const std::string& text);
    void EraseDrawn(bool beforeStdout);
    void Draw(bool force);
    std::string Render(const TProgressLine& line, int width) const;

    std::mutex Lock;
    bool Quiet = false;
    bool ShowProgress = false;
    bool StdoutIsTerminal = false;
    bool StatusOnStderr = false;
    bool StdoutClosed = false; // a write to stdout failed: the reader went away
    std::vector<TProgressLine> Lines;
    int Drawn = 0; // progress lines on the screen now
    TClock::time_point LastDraw;
};

// The fields of a JSON object, written by QJsonDocument. Text that is not UTF-8 (a file or port
// name as the system gave it) is kept recoverable: each byte that is no part of a UTF-8
// character is written as \xHH and each backslash doubled, and "KEY_escaped": true is added.
class TJsonFields {
public:
    void AddString(const char* key, const std::string& value);
    void AddNumber(const char* key, int64_t value);
    void AddNumber(const char* key, double value, int decimals);
    void Add(const char* key, const QJsonValue& value);
    // Every field of another object, after those already here.
    void AddAll(const TJsonFields& other);
    // The object on one line.
    std::string Text() const;
    const QJsonObject& Object() const { return Fields; }

private:
    QJsonObject Fields;
};

// A string value fit for JSON: the text itself when it is UTF-8, else the escaped form that
// TJsonFields writes; escaped tells which.
QString JsonText(const std::string& text, bool* escaped = nullptr);

// Text from a file made safe for a terminal: control characters (escape sequences, carriage
// returns, NULs ...) are shown as \r, \t or \xHH rather than acted upon.
std::string EscapeControlCharacters(const std::string& text);

// A message of several lines on one, its line breaks become single spaces.
std::string OneLine(const std::string& text);
