// The main window's list of serial ports: filled from the ports that can be opened, at start-up
// and again each time the list is opened, the remembered port selected, a warning when there is
// none, the choice stored when the user makes it and again on close. A network port
// ("rfc2217://HOST:PORT") is typed into the box and stays in the list once used.

#include "Mainfrm.h"

#include "FlashLedger.h"
#include "Misc.h"
#include "MonitorMessages.h"
#include "PortList.h"
#include "Rfc2217Port.h"
#include "Settings.h"

#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cstring>
#include <functional>
#include <utility>

namespace {

// Adapters and simulated boards come and go while the program runs: the list is filled anew
// just before it opens.
class TPortBox : public QComboBox {
public:
    TPortBox(QWidget* parent, std::function<void()> beforeOpening)
        : QComboBox(parent), FBeforeOpening(std::move(beforeOpening)) {}

    void showPopup() override {
        FBeforeOpening();
        QComboBox::showPopup();
    }

private:
    std::function<void()> FBeforeOpening;
};

// The box's editor cuts only what is selected: with nothing selected the cut key is the window's
// short-cut, as it is everywhere else (Ctrl+X exits).
class TPortEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride && !hasSelectedText() &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cut)) {
            event->ignore();
            return true;
        }
        return QLineEdit::event(event);
    }
};

// The box's own tooltip follows the chosen port, so the adapter can be told apart without
// opening the list.
void ShowChosenPortDetails(QComboBox* box) {
    box->setToolTip(box->currentData(Qt::ToolTipRole).toString());
}

// Typed text that is not the chosen entry's own: a port given by hand.
bool HoldsTypedText(const QComboBox* box) {
    const int index = box->currentIndex();
    return index < 0 || box->currentText() != box->itemText(index);
}

// A typed network port joins the list and is chosen; it cannot be probed as the computer's own
// ports are, so it stays listed once used.
void AdoptTypedPort(QComboBox* box) {
    const QString typed = box->currentText().trimmed();
    if (!HoldsTypedText(box) || !IsNetworkPortName(typed))
        return;
    int index = box->findData(typed);
    if (index < 0) {
        box->addItem(typed, typed);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

QStringList NetworkPortsOf(const QComboBox* box) {
    QStringList ports;
    for (int i = 0; i < box->count(); ++i)
        if (IsNetworkPortName(box->itemData(i).toString()))
            ports << box->itemData(i).toString();
    return ports;
}

} // namespace

namespace {

bool IsSimulatedFlashBoard(const TPortCandidate& port) {
    return port.Simulated && port.Board.contains(QLatin1String("-flash-"), Qt::CaseInsensitive);
}

} // namespace

QString PortDisplayName(const TPortCandidate& port) {
    if (!port.Simulated)
        return port.Name;
    // A simulator announces itself as "<type>-<mode>-boardsim"; its device is a numbered
    // pseudo-terminal that tells a person nothing, so it only tells two boards apart.
    QString label = port.Board;
    if (label.endsWith(QLatin1String("-boardsim")))
        label.chop(int(strlen("-boardsim")));
    label.replace(QLatin1Char('-'), QLatin1Char(' '));
    const QString line = port.Name.contains(QLatin1String("/pts/"))
                             ? port.Name.section(QLatin1Char('/'), -2)
                             : QFileInfo(port.Name).fileName();
    if (label.isEmpty())
        return QStringLiteral("Simulated board (%1)").arg(line);
    return QStringLiteral("Simulated %1 (%2)").arg(label, line);
}

void TMainForm::CreatePortBox() {
    PortCB = new TPortBox(ToolBar, [this] { FillPortList(ChosenPort()); });
    PortCB->setLineEdit(new TPortEdit(PortCB));
    PortCB->setInsertPolicy(QComboBox::NoInsert);
    // A typed port name is taken as typed, not completed into a listed one.
    PortCB->setCompleter(nullptr);
    PortCB->lineEdit()->setPlaceholderText("rfc2217://host:port");
    PortCB->setMinimumContentsLength(8);
    PortCB->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(PortCB, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        ShowChosenPortDetails(PortCB);
        PortCBChange();
    });
    // Typing names another port: the link must be synchronised again. The board output follows
    // once the name is complete.
    connect(PortCB->lineEdit(), &QLineEdit::textEdited, this,
            [this] { EnableFlashCommands(false); });
    connect(PortCB->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        // Focus leaving the box (a busy window disables it) is no new name unless one was typed.
        if (!PortCB->lineEdit()->isModified())
            return;
        PortCB->lineEdit()->setModified(false);
        if (!HoldsTypedText(PortCB))
            return;
        AdoptTypedPort(PortCB);
        if (HoldsTypedText(PortCB))
            PortCBChange();
    });
    // The user's choice is stored at once: korvex-cli, run meanwhile, takes the same port.
    connect(PortCB, qOverload<int>(&QComboBox::activated), this, [this] {
        TSettingsKey key;
        if (key.IsOpen())
            WritePortSetting(key);
    });
}

QString TMainForm::ChosenPort() const {
    {
        // Used now: a typed network port is listed from here on, quietly, as the port in use.
        QSignalBlocker quiet(PortCB);
        AdoptTypedPort(PortCB);
    }
    if (HoldsTypedText(PortCB))
        return PortCB->currentText().trimmed();
    // The device, which the settings text needs; lines put in by hand carry only their text.
    const QVariant device = PortCB->currentData(Qt::UserRole);
    return device.isValid() ? device.toString() : PortCB->currentText();
}

void TMainForm::ReadPortSetting(TSettingsKey& key) {
    RememberedPort = key.ReadString("SerialPort");
}

void TMainForm::FillPortList() {
    FillPortList(QString::fromLocal8Bit(static_cast<const char*>(RememberedPort)));
}

void TMainForm::FillPortList(const QString& wanted) {
    TPortProbeScope probing(*this);
    // Probing opens every port, the board's among them.
    if (LinkBaud > 0)
        SyncAgainReason = SyncAgainProbeReason;
    const QString before = PortCB->count() > 0 ? ChosenPort() : QString();
    QStringList networkPorts = NetworkPortsOf(PortCB);
    if (IsNetworkPortName(wanted) && !networkPorts.contains(wanted))
        networkPorts << wanted;
    {
        // Only the outcome counts as a change of port, not the emptying and refilling.
        QSignalBlocker quiet(PortCB);
        PortCB->clear();
        int wantedIndex = -1;
        int flashBoardIndex = -1;
        // A stored by-id name or USB selector finds its adapter under whatever device it has now.
        const std::string wantedDevice =
            wanted.isEmpty() ? std::string() : StablePortName(wanted.toLocal8Bit().toStdString());
        for (const TPortCandidate& port : AvailablePorts()) {
            PortCB->addItem(PortDisplayName(port), port.Name);
            const int index = PortCB->count() - 1;
            if (flashBoardIndex < 0 && IsSimulatedFlashBoard(port))
                flashBoardIndex = index;
            if (!port.Description.isEmpty())
                PortCB->setItemData(index, port.Description, Qt::ToolTipRole);
            if (wantedIndex < 0 &&
                (port.Name == wanted ||
                 (!wantedDevice.empty() &&
                  StablePortName(port.Name.toLocal8Bit().toStdString()) == wantedDevice)))
                wantedIndex = index;
        }
        for (const QString& port : networkPorts) {
            PortCB->addItem(port, port);
            if (port == wanted)
                wantedIndex = PortCB->count() - 1;
        }
        // On a first start, with no port stored, a simulated flash board is the one to try.
        if (wantedIndex < 0 && wanted.isEmpty())
            wantedIndex = flashBoardIndex;
        if (PortCB->count() > 0)
            PortCB->setCurrentIndex(wantedIndex >= 0 ? wantedIndex : 0);
    }
    ShowChosenPortDetails(PortCB);
    const QString after = PortCB->count() > 0 ? ChosenPort() : QString();
    if (after != before)
        PortCBChange();
}

void TMainForm::WritePortSetting(TSettingsKey& key) {
    if (PortCB->count() == 0)
        return;
    // A by-id name or USB selector stays stored while it still names the chosen port.
    const std::string chosen = ChosenPort().toLocal8Bit().toStdString();
    const std::string stored = RememberedPort();
    const bool keep = !stored.empty() && StablePortName(stored) == StablePortName(chosen);
    key.WriteString("SerialPort", keep ? stored.c_str() : chosen.c_str());
}

void TMainForm::TimerTimer() {
    Timer->stop();
    // A board command keeps the window painting while it waits for the board; the check must not
    // put its box into the middle of that. It comes back once the command is over.
    if (IsOperating()) {
        Timer->start();
        return;
    }
    if (PortCB->count() > 0)
        return;
    MsgBox(MB_ICONWARNING, "No serial ports found on this computer.");
    SynchTB->setEnabled(false);
    SramTB->setEnabled(false);
}
