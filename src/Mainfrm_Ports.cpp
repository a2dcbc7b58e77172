// The main window's list of serial ports: filled once at start-up from the ports that can be
// opened, the remembered port selected, a warning when there is none, the choice stored on
// close.

#include "Mainfrm.h"

#include "Comm.h"
#include "Misc.h"
#include "Settings.h"

#include <QComboBox>
#include <QTimer>
#include <QToolButton>

namespace {

// The box's own tooltip follows the chosen port, so the adapter can be told apart without
// opening the list.
void ShowChosenPortDetails(QComboBox* box) {
    box->setToolTip(box->currentData(Qt::ToolTipRole).toString());
}

} // namespace

void TMainForm::ReadPortSetting(TSettingsKey& key) {
    RememberedPort = key.ReadString("SerialPort");
}

void TMainForm::FillPortList() {
    const QString remembered = QString::fromLocal8Bit(static_cast<const char*>(RememberedPort));
    int rememberedIndex = -1;
    for (const TPortCandidate& port : AvailablePorts()) {
        PortCB->addItem(port.Name);
        const int index = PortCB->count() - 1;
        if (!port.Description.isEmpty())
            PortCB->setItemData(index, port.Description, Qt::ToolTipRole);
        if (port.Name == remembered)
            rememberedIndex = index;
    }
    if (PortCB->count() > 0)
        PortCB->setCurrentIndex(rememberedIndex >= 0 ? rememberedIndex : 0);

    ShowChosenPortDetails(PortCB);
    if (!PortCB->property("korvexPortDetails").toBool()) {
        PortCB->setProperty("korvexPortDetails", true);
        connect(PortCB, qOverload<int>(&QComboBox::currentIndexChanged), PortCB,
                [box = PortCB] { ShowChosenPortDetails(box); });
    }
}

void TMainForm::WritePortSetting(TSettingsKey& key) {
    if (PortCB->count() > 0)
        key.WriteString("SerialPort", PortCB->currentText().toLocal8Bit().constData());
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
