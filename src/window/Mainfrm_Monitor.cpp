// The main window's board output: the pane in a dock below the console, its menu, and the
// port handed between it and the board commands.

#include "BoardOutputPane.h"
#include "Mainfrm.h"
#include "MonitorMessages.h"

#include <QAction>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

void TMainForm::CreateBoardOutput() {
    BoardOutput = new TBoardOutputPane(this, [this] { return ChosenPort(); });
    BoardOutputDock = new QDockWidget("Board output", this);
    BoardOutputDock->setObjectName("BoardOutputDock");
    BoardOutputDock->setWidget(BoardOutput);
    BoardOutputDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                                 QDockWidget::DockWidgetFloatable);
    addDockWidget(Qt::BottomDockWidgetArea, BoardOutputDock);
    BoardOutputDock->hide();

    // Between the Flash menu and Cancel, with short-cuts beside those of the board commands.
    MonitorMenu = new QMenu("&Monitor", this);
    menuBar()->insertMenu(CancelMenu, MonitorMenu);
    BoardOutputMenu = MonitorMenu->addAction("&Board Output");
    BoardOutputMenu->setShortcut(QKeySequence(Qt::Key_F8));
    connect(BoardOutputMenu, &QAction::triggered, this, &TMainForm::BoardOutputMenuClick);
    MonitorConnectMenu = MonitorMenu->addAction("&Connect");
    MonitorConnectMenu->setShortcut(QKeySequence(Qt::Key_F9));
    MonitorConnectMenu->setCheckable(true);
    connect(MonitorConnectMenu, &QAction::triggered, this, [this](bool on) {
        BoardOutputDock->show();
        BoardOutput->SetConnected(on);
    });
    connect(BoardOutput->ConnectB, &QToolButton::toggled, MonitorConnectMenu, &QAction::setChecked);
    connect(BoardOutput, &TBoardOutputPane::PortOpened, this, [this] {
        if (LinkBaud > 0)
            SyncAgainReason = SyncAgainPaneReason;
    });
}

void TMainForm::BoardOutputMenuClick() {
    BoardOutputDock->show();
    BoardOutputDock->raise();
    BoardOutput->Input->setFocus();
}

void TMainForm::DescribeOperation(const std::string& what) {
    if (BoardOutput)
        BoardOutput->DescribePause(QString::fromStdString(what));
}

TPortProbeScope::TPortProbeScope(TMainForm& form) : FForm(form) {
    if (FForm.BoardOutput)
        FForm.BoardOutput->Pause(QString());
}

TPortProbeScope::~TPortProbeScope() {
    if (FForm.BoardOutput)
        FForm.BoardOutput->Resume();
}
