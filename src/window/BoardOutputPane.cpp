#include "BoardOutputPane.h"

#include "Comm.h"
#include "Misc.h"
#include "MonitorMessages.h"
#include "Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const SpeedValue = "MonitorSpeed";
const char* const StampsValue = "MonitorTimestamps";
const char* const EndValue = "MonitorLineEnd";

// At most this much is read in one poll, so that a board that never pauses still leaves the
// window its time between polls.
constexpr size_t PollBytes = 16 * 1024;

QToolButton* Button(QWidget* owner, const char* text, const char* hint) {
    auto* button = new QToolButton(owner);
    button->setText(text);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    return button;
}

} // namespace

TBoardOutputPane::TBoardOutputPane(QWidget* owner, std::function<QString()> port)
    : QWidget(owner), PortName(std::move(port)), Port(std::make_unique<TComms>()),
      Monitor(std::make_unique<TSerialMonitor>(*Port)) {
    setObjectName("BoardOutputPane");
    QHBoxLayout* bar = MakeBar();
    Output = new QPlainTextEdit(this);
    Output->setReadOnly(true);
    Output->setUndoRedoEnabled(false);
    Output->setMaximumBlockCount(ScrollbackLines + 1); // the last block is the unended line
    Output->setLineWrapMode(QPlainTextEdit::NoWrap);
    Output->setFont(QFont("Monospace"));
    Input = new QLineEdit(this);
    Input->setPlaceholderText("Text to send to the board; Enter sends it");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(bar);
    layout->addWidget(Output);
    layout->addWidget(Input);

    PollTimer = new QTimer(this);
    PollTimer->setInterval(PollMs);
    connect(PollTimer, &QTimer::timeout, this, &TBoardOutputPane::Poll);
    RetryTimer = new QTimer(this);
    RetryTimer->setInterval(RetryMs);
    connect(RetryTimer, &QTimer::timeout, this, [this] { Open(TOpening::Retry); });
    ConnectControls();
    ReadSettings();
}

QHBoxLayout* TBoardOutputPane::MakeBar() {
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    ConnectB = Button(this, "Connect", "Show what the board's program sends on the chosen port");
    ConnectB->setCheckable(true);
    SpeedCB = new QComboBox(this);
    SpeedCB->setToolTip("The speed of the board's program");
    for (int speed : MonitorSpeeds)
        SpeedCB->addItem(QString::number(speed), speed);
    StampsCB = new QCheckBox("Time stamps", this);
    StampsCB->setToolTip("Start each line with the local time it arrived");
    EndCB = new QComboBox(this);
    EndCB->setToolTip("The line end sent after a typed line");
    EndCB->addItem("LF", static_cast<int>(TLineEnd::Lf));
    EndCB->addItem("CR", static_cast<int>(TLineEnd::Cr));
    EndCB->addItem("CR+LF", static_cast<int>(TLineEnd::CrLf));
    ClearB = Button(this, "Clear", "Clear the board output");
    SaveB = Button(this, "Save...", "Save the board output to a file");
    DroppedL = new QLabel(this);
    for (QWidget* item : std::initializer_list<QWidget*>{ConnectB, SpeedCB, StampsCB, EndCB, ClearB,
                                                         SaveB, DroppedL})
        bar->addWidget(item);
    bar->addStretch();
    return bar;
}

void TBoardOutputPane::ConnectControls() {
    connect(ConnectB, &QToolButton::toggled, this, &TBoardOutputPane::SetConnected);
    connect(SpeedCB, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { SetSpeed(Speed()); });
    connect(StampsCB, &QCheckBox::toggled, this, &TBoardOutputPane::SetTimestamps);
    connect(EndCB, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        SetLineEnd(static_cast<TLineEnd>(EndCB->itemData(index).toInt()));
    });
    connect(ClearB, &QToolButton::clicked, this, &TBoardOutputPane::Clear);
    connect(SaveB, &QToolButton::clicked, this, &TBoardOutputPane::SaveClick);
    connect(Input, &QLineEdit::returnPressed, this, &TBoardOutputPane::SendTyped);
}

TBoardOutputPane::~TBoardOutputPane() {
    Monitor->Close();
}

bool TBoardOutputPane::IsOpen() const {
    return Monitor->IsOpen();
}

// ---- Connection -------------------------------------------------------------------------------

void TBoardOutputPane::SetConnected(bool on) {
    if (ConnectB->isChecked() != on) {
        ConnectB->setChecked(on); // comes back here through toggled
        return;
    }
    ConnectB->setText(on ? "Disconnect" : "Connect");
    if (on == Wanted)
        return;
    Wanted = on;
    if (on) {
        Open(TOpening::Loud);
    } else {
        Close();
        Note("-- disconnected --");
    }
}

void TBoardOutputPane::Open(TOpening how) {
    if (!Wanted || Paused > 0 || Monitor->IsOpen())
        return;
    const bool retry = how == TOpening::Retry;
    const QString device = PortName();
    if (device.isEmpty()) {
        if (!retry)
            Note("-- no port chosen --");
        RetryTimer->start();
        return;
    }
    std::string error;
    if (!Monitor->Open(device.toLocal8Bit().toStdString(), Speed(), error)) {
        // Shown once; the retries go on quietly until the device is back.
        if (!retry || !RetryTimer->isActive())
            Note(QString("-- cannot open %1: %2 --").arg(device, QString::fromStdString(error)));
        RetryTimer->start();
        return;
    }
    RetryTimer->stop();
    OpenDevice = device;
    if (how != TOpening::Quiet)
        Note(QString("-- connected to %1 at %2 baud --").arg(device).arg(Speed()));
    PollTimer->start();
    emit PortOpened();
}

void TBoardOutputPane::Close() {
    PollTimer->stop();
    RetryTimer->stop();
    if (Monitor->IsOpen()) {
        // What had arrived is shown before the port goes.
        std::string shown, error;
        Monitor->Poll(0, PollBytes, shown, error);
        Show(shown);
    }
    Monitor->Close();
}

void TBoardOutputPane::Pause(const QString& note) {
    if (Paused++ == 0) {
        QuietPause = note.isEmpty();
        GapNote = note;
    }
    if (Paused == 1 && Wanted)
        Close();
}

void TBoardOutputPane::DescribePause(const QString& note) {
    if (Paused > 0 && !QuietPause)
        GapNote = note;
}

void TBoardOutputPane::Resume() {
    if (Paused == 0 || --Paused > 0)
        return;
    // The gap is marked once the command is over and says what it came to.
    if (Wanted && !GapNote.isEmpty())
        Note("-- " + GapNote + " --");
    GapNote.clear();
    Open(QuietPause && PortName() == OpenDevice ? TOpening::Quiet : TOpening::Loud);
}

void TBoardOutputPane::PortChanged() {
    if (!Wanted || Paused > 0 || PortName() == OpenDevice)
        return;
    Close();
    Open(TOpening::Loud);
}

void TBoardOutputPane::LineLost(const std::string& reason) {
    Monitor->Close();
    PollTimer->stop();
    const std::string lost = LineLostText(OpenDevice.toStdString(), reason);
    Note(QString("-- %1; waiting for it to come back --").arg(QString::fromStdString(lost)));
    RetryTimer->start();
}

void TBoardOutputPane::Poll() {
    if (!Monitor->IsOpen())
        return;
    std::string shown, error;
    const bool alive = Monitor->Poll(0, PollBytes, shown, error);
    Show(shown);
    if (!alive)
        LineLost(error);
}

// ---- Text -------------------------------------------------------------------------------------

void TBoardOutputPane::Show(const std::string& text) {
    if (text.empty())
        return;
    // A batch longer than the scrollback would only scroll out at once.
    const std::string kept = KeepLastLines(text, ScrollbackLines, Dropped);
    QScrollBar* scroll = Output->verticalScrollBar();
    const bool atEnd = scroll->value() == scroll->maximum();
    const int before = Output->blockCount();
    const int added = static_cast<int>(std::count(kept.begin(), kept.end(), '\n'));
    QTextCursor cursor(Output->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromUtf8(kept.data(), static_cast<int>(kept.size())));
    // The document drops its first blocks past its maximum: count them too.
    const int lost = before + added - Output->blockCount();
    if (lost > 0)
        Dropped += static_cast<uint64_t>(lost);
    if (Dropped > 0)
        DroppedL->setText(QString("%1 older lines dropped").arg(Dropped));
    if (atEnd)
        scroll->setValue(scroll->maximum());
}

void TBoardOutputPane::Note(const QString& note) {
    Show(Monitor->Text().Note(note.toStdString(), MonitorNowMs()));
}

void TBoardOutputPane::Clear() {
    Output->clear();
    Dropped = 0;
    DroppedL->clear();
    Monitor->Text().Reset();
}

void TBoardOutputPane::SendTyped() {
    if (!Monitor->IsOpen()) {
        Note("-- not connected: nothing sent --");
        return;
    }
    std::string error;
    if (!Monitor->Send(Input->text().toStdString(), SendEnd, error)) {
        LineLost(error);
        return;
    }
    Input->clear();
}

bool TBoardOutputPane::SaveTo(const QString& path) {
    QFile file(path);
    const QByteArray text = Output->toPlainText().toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush()) {
        MsgBox(MB_OK | MB_ICONERROR, "Unable to write file:\n%s", path.toLocal8Bit().constData());
        return false;
    }
    return true;
}

void TBoardOutputPane::SaveClick() {
    const QString path = QFileDialog::getSaveFileName(this, "Save Board Output", QString(),
                                                      "Text files (*.txt *.log);;All files (*)");
    if (!path.isEmpty())
        SaveTo(path);
}

// ---- Choices ----------------------------------------------------------------------------------

void TBoardOutputPane::SetSpeed(int speed) {
    const int index = SpeedCB->findData(speed);
    if (index < 0)
        return;
    if (SpeedCB->currentIndex() != index) {
        SpeedCB->setCurrentIndex(index); // comes back here
        return;
    }
    WriteSettings();
    // A new speed takes effect at once on an open port.
    if (Monitor->IsOpen() && !Loading) {
        Close();
        Open(TOpening::Loud);
    }
}

int TBoardOutputPane::Speed() const {
    return SpeedCB->currentData().toInt();
}

void TBoardOutputPane::SetTimestamps(bool on) {
    if (StampsCB->isChecked() != on) {
        StampsCB->setChecked(on);
        return;
    }
    Monitor->Text().SetTimestamps(on);
    WriteSettings();
}

void TBoardOutputPane::SetLineEnd(TLineEnd end) {
    SendEnd = end;
    const int index = EndCB->findData(static_cast<int>(end));
    if (index >= 0 && EndCB->currentIndex() != index)
        EndCB->setCurrentIndex(index);
    WriteSettings();
}

void TBoardOutputPane::ReadSettings() {
    Loading = true;
    int speed = 115200, end = 0;
    bool stamps = false;
    {
        TSettingsKey key;
        if (key.IsOpen()) {
            speed = key.ReadInteger(SpeedValue, speed);
            stamps = key.ReadInteger(StampsValue, 0) != 0;
            end = key.ReadInteger(EndValue, 0);
        }
    }
    SetSpeed(IsMonitorSpeed(speed) ? speed : 115200);
    SetTimestamps(stamps);
    SetLineEnd(end >= 0 && end <= 2 ? static_cast<TLineEnd>(end) : TLineEnd::Lf);
    Loading = false;
}

void TBoardOutputPane::WriteSettings() const {
    if (Loading)
        return;
    TSettingsKey key;
    if (!key.IsOpen())
        return;
    key.WriteInteger(SpeedValue, Speed());
    key.WriteInteger(StampsValue, StampsCB->isChecked() ? 1 : 0);
    key.WriteInteger(EndValue, static_cast<int>(SendEnd));
}
