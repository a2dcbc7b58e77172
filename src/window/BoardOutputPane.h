#pragma once
// The "Board output" pane: what the board's own program sends, beside the console. It holds
// the port only while no board command needs it: commands pause it and it reopens the port
// when they end; a lost line is retried until the device is back.

#include "SerialMonitor.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
class QToolButton;
class TComms;

class TBoardOutputPane : public QWidget {
    Q_OBJECT

public:
    // port: the device the window's commands use, asked for whenever the pane opens it.
    TBoardOutputPane(QWidget* owner, std::function<QString()> port);
    ~TBoardOutputPane() override;

    // Lines kept; older ones are dropped from the top and counted.
    static constexpr int ScrollbackLines = 20000;
    // How often arrived bytes are read and shown at once, and a lost port is tried again.
    static constexpr int PollMs = 30;
    static constexpr int RetryMs = 1000;

    // The user's wish: monitor the port or not. Stored, so the next start resumes it.
    void SetConnected(bool on);
    bool WantsConnection() const { return Wanted; }
    bool IsOpen() const;

    // A board command takes the port: the pane closes it; when the port comes back, a line
    // says what took it (none when note is empty). Pauses nest; the last Resume reopens the port.
    void Pause(const QString& note);
    // What the command turned out to do, for that line ("programming, 200 bytes at ...").
    void DescribePause(const QString& note);
    void Resume();
    // The window's port changed: a monitor that runs moves to it.
    void PortChanged();

    void SetSpeed(int speed);
    int Speed() const;
    void SetTimestamps(bool on);
    void SetLineEnd(TLineEnd end);
    TLineEnd LineEnd() const { return SendEnd; }
    // Sends the typed line with the chosen line end; the line is cleared once sent.
    void SendTyped();
    void Clear();
    // Writes what the pane shows to a file; false with a message box on failure.
    bool SaveTo(const QString& path);
    // Lines dropped from the top since the last Clear.
    uint64_t DroppedLines() const { return Dropped; }

    QPlainTextEdit* Output = nullptr;
    QLineEdit* Input = nullptr;
    QToolButton* ConnectB = nullptr;
    QComboBox* SpeedCB = nullptr;
    QCheckBox* StampsCB = nullptr;
    QComboBox* EndCB = nullptr;
    QToolButton* ClearB = nullptr;
    QToolButton* SaveB = nullptr;
    QLabel* DroppedL = nullptr;

    // Reads and shows what arrived (the poll timer calls it).
    void Poll();

signals:
    // The pane opened the port: a board on it may have restarted into its program.
    void PortOpened();

private:
    // Loud: says so when connected or not; Quiet: only a failure; Retry: the failure only once.
    enum class TOpening { Loud, Quiet, Retry };
    // The row of controls above the output, and their signals wired to the pane.
    QHBoxLayout* MakeBar();
    void ConnectControls();
    void Open(TOpening how);
    void Close();
    void Show(const std::string& text);
    void Note(const QString& note);
    void LineLost(const std::string& reason);
    void SaveClick();
    void ReadSettings();
    void WriteSettings() const;

    std::function<QString()> PortName;
    std::unique_ptr<TComms> Port;
    std::unique_ptr<TSerialMonitor> Monitor;
    QTimer* PollTimer = nullptr;
    QTimer* RetryTimer = nullptr;
    QString OpenDevice; // the device the port was opened on
    bool Wanted = false;
    int Paused = 0;
    bool QuietPause = false; // the port list's probe, not a board command
    QString GapNote;         // the line that marks the gap when the port comes back
    TLineEnd SendEnd = TLineEnd::Lf;
    uint64_t Dropped = 0;
    bool Loading = false; // settings are being read: changes are not stored back
};
