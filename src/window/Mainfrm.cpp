// The main window itself: its controls, start-up and shut-down, command availability.
// The console, status bar and progress display are in Mainfrm_Console.cpp.

#include "Mainfrm.h"

#include "BoardOutputPane.h"
#include "FlashMap.h"
#include "Mainfrm_Application.h"
#include "Mainfrm_Placement.h"
#include "Misc.h"
#include "Settings.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

const char* const Caption = "EB40A SRAM/Flash Loader";
const int DesignLeft = 126;
const int DesignTop = 216;
const int DesignWidth = 788;
const int DesignHeight = 550;
const int PortCheckDelayMs = 500;
// Beside FormSize, which keeps the normal place: whether the window was closed maximised.
const char* const MaximizedValue = "FormMaximized";

} // namespace

TMainForm::TMainForm(QWidget* owner) : QMainWindow(owner) {
    // The window from its design; no image is loaded yet.
    setWindowTitle(Caption);
    setWindowIcon(ApplicationIcon());
    move(DesignLeft, DesignTop);
    resize(DesignWidth, DesignHeight);
    CreateMenus();
    CreateToolBar();
    CreateConsole();
    CreateStatusBar();
    CreateBoardOutput();
    CreateFlashMap();
    // An image file dropped on the window is loaded as Open loads it; the console leaves drops
    // to the window.
    setAcceptDrops(true);
    Memo->setAcceptDrops(false);
    Memo->viewport()->setAcceptDrops(false);
    Timer = new QTimer(this);
    Timer->setInterval(PortCheckDelayMs);
    connect(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);

    {
        TSettingsKey key;
        if (key.IsOpen()) {
            ReadFileHistory(key);
            ReadFormSize(key);
            ReadPortSetting(key);
            ImportTypesIfMissing(key);
        }
    }

    ApplyConsoleLook();
    ClearTBClick();
    FillPortList();

    SetStatusPanel(FilePanel, "File image not loaded");
    CancelMenu->setVisible(false);
    ProgressBar->hide();
    Refreshing = false;

    SelectType(TString());
    // Not the port box: its editor would take the short-cut keys of editing (Ctrl+X) for itself.
    Memo->setFocus();
    Timer->start();
}

TMainForm::~TMainForm() {
    // The port box's editor reports losing focus while the children are torn down, when this
    // is no longer a main form to tell.
    if (PortCB && PortCB->lineEdit())
        PortCB->lineEdit()->disconnect(this);
}

QToolButton* TMainForm::AddToolButton(const char* icon, const char* hint,
                                      void (TMainForm::*click)()) {
    auto* button = new QToolButton(ToolBar);
    // Both drawings, whatever the screen at start: the window may move to a denser one.
    QIcon image(QString(":/%1.png").arg(icon));
    image.addFile(QString(":/%1@2x.png").arg(icon));
    button->setIcon(image);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    if (click)
        connect(button, &QToolButton::clicked, this, click);
    ToolBar->addWidget(button);
    return button;
}

void TMainForm::CreateToolBar() {
    ToolBar = addToolBar("ToolBar");
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    OpenTB = AddToolButton("open", "Open file for upload", &TMainForm::OpenTBClick);
    OpenPopup = new QMenu(OpenTB);
    OpenTB->setMenu(OpenPopup);
    OpenTB->setPopupMode(QToolButton::MenuButtonPopup);
    connect(OpenPopup, &QMenu::triggered, this, &TMainForm::HistoryItemClick);
    RefreshTB = AddToolButton("refresh", "Refresh file image", &TMainForm::RefreshTBClick);
    ToolBar->addSeparator();
    ClearTB = AddToolButton("clear", "Clear console window", &TMainForm::ClearTBClick);
    PrefTB = AddToolButton("preferences", "Preferences", &TMainForm::PrefTBClick);
    ToolBar->addSeparator();

    PortL = new QLabel("Port", ToolBar);
    PortL->setContentsMargins(4, 0, 4, 0);
    ToolBar->addWidget(PortL);
    CreatePortBox();
    PortL->setBuddy(PortCB);
    ToolBar->addWidget(PortCB);
    ToolBar->addSeparator();

    SramTB = AddToolButton("sram", "SRAM upload", &TMainForm::SramTBClick);
    ToolBar->addSeparator();
    SynchTB = AddToolButton("synch", "Flash synchronize", &TMainForm::SynchTBClick);
    ReadTB = AddToolButton("read", "Flash read", &TMainForm::ReadTBClick);
    FlashTB = AddToolButton("flash", "Flash program", &TMainForm::FlashTBClick);
    VerifyTB = AddToolButton("verify", "Flash verify", &TMainForm::VerifyTBClick);
    EraseSectorTB =
        AddToolButton("erasesector", "Flash erase sector", &TMainForm::EraseSectorTBClick);
    EraseAllTB = AddToolButton("eraseall", "Flash erase all", nullptr);
    EraseAllTBAction = ToolBar->actions().constLast();
    EraseAllTBAction->setVisible(false);
    ToolBar->addSeparator();
    AboutTB = AddToolButton("about", "About", &TMainForm::AboutTBClick);
    ExitTB = AddToolButton("exit", "Exit program", &TMainForm::ExitTBClick);
}

void TMainForm::CreateMenus() {
    QMenuBar* bar = menuBar();
    auto item = [this](QMenu* menu, const char* text, QKeySequence shortcut,
                       void (TMainForm::*click)()) {
        QAction* action = menu->addAction(text);
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, click);
        return action;
    };

    FileMenu = bar->addMenu("&File");
    OpenMenu = item(FileMenu, "&Open", QKeySequence(Qt::CTRL | Qt::Key_O), &TMainForm::OpenTBClick);
    RefreshMenu = item(FileMenu, "&Refresh", QKeySequence(Qt::Key_F5), &TMainForm::RefreshTBClick);
    FileMenu->addSeparator();
    PreferencesMenu = item(FileMenu, "&Preferences", QKeySequence(), &TMainForm::PrefTBClick);
    ClearConsoleMenu = item(FileMenu, "Clear Console", QKeySequence(), &TMainForm::ClearTBClick);
    FileMenu->addSeparator();
    ExitMenu =
        item(FileMenu, "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X), &TMainForm::ExitMenuClick);

    SramMenu = bar->addMenu("&SRAM");
    SramUploadMenu = item(SramMenu, "&Upload", QKeySequence(Qt::Key_F2), &TMainForm::SramTBClick);

    FlashMenu = bar->addMenu("&Flash");
    LinkSynchronizeMenu =
        item(FlashMenu, "&Link Synchronize", QKeySequence(Qt::Key_F3), &TMainForm::SynchTBClick);
    FlashMenu->addSeparator();
    ReadMenu = item(FlashMenu, "&Read", QKeySequence(Qt::Key_F4), &TMainForm::ReadTBClick);
    FlashWriteMenu = item(FlashMenu, "&Write", QKeySequence(Qt::Key_F6), &TMainForm::FlashTBClick);
    VerifyMenu = item(FlashMenu, "&Verify", QKeySequence(), &TMainForm::VerifyTBClick);
    VerifyReadBackMenu =
        item(FlashMenu, "Verify by Reading &Back", QKeySequence(), &TMainForm::VerifyReadBackClick);
    FlashMenu->addSeparator();
    EraseSectorMenu =
        item(FlashMenu, "&Erase Sector", QKeySequence(Qt::Key_F7), &TMainForm::EraseSectorTBClick);

    CancelMenu = bar->addAction("&Cancel");
    connect(CancelMenu, &QAction::triggered, this, &TMainForm::CancelMenuClick);
}

void TMainForm::EnableFlashCommands(bool on) {
    for (QToolButton* button : {ReadTB, FlashTB, VerifyTB, EraseSectorTB, EraseAllTB})
        button->setEnabled(on);
    for (QAction* action :
         {ReadMenu, FlashWriteMenu, VerifyMenu, VerifyReadBackMenu, EraseSectorMenu})
        action->setEnabled(on);
}

void TMainForm::SetBusy(bool busy) {
    Busy = busy;
    CancelMenu->setVisible(busy);
    ToolBar->setEnabled(!busy);
    // A disabled menu title also stops the short-cut keys of the items under it.
    for (QMenu* menu : {FileMenu, SramMenu, FlashMenu})
        menu->menuAction()->setEnabled(!busy);
}

void TMainForm::PortCBChange() {
    // A newly chosen port must be synchronised again before flash commands are offered.
    EnableFlashCommands(false);
    if (BoardOutput)
        BoardOutput->PortChanged();
    // What the map showed was another board's.
    if (FlashMap)
        FlashMap->Clear();
}

void TMainForm::ExitTBClick() {
    close();
}

void TMainForm::ExitMenuClick() {
    if (MsgBox(MB_YESNO | MB_ICONQUESTION, "Exit SRAM/Flash loader program?") == IDYES)
        close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // While a board command runs (a transfer offers only Cancel; the others wait for the board
    // with the window painting) closing would leave the command running unseen, and the
    // application's quitting would make its remaining questions and its final report return at
    // once, unanswered and unread.
    if (Busy || Operating) {
        CloseRequested = true;
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TMainForm::SetOperating(bool operating, const char* what) {
    Operating = operating;
    if (BoardOutput && operating)
        BoardOutput->Pause(QString::fromUtf8(what && *what ? what : "board command"));
    else if (BoardOutput)
        BoardOutput->Resume();
    if (operating || !CloseRequested)
        return;
    // After the command's last message, from the event loop: the handler is still unwinding.
    CloseRequested = false;
    QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    event->ignore();
    FormKeyDown(event);
    if (!event->isAccepted())
        QMainWindow::keyPressEvent(event);
}

void TMainForm::FormClose() {
    TSettingsKey key;
    if (!key.IsOpen())
        return;
    WriteFormSize(key);
    WritePortSetting(key);
    WriteFileHistory(key);
}

void TMainForm::ReadFormSize(TSettingsKey& key) {
    TString size = key.ReadString("FormSize");
    if (size.AsciiWords(';', false) == 4) {
        int field[4];
        for (int i = 0; i < 4; ++i)
            field[i] = size.AsciiWord(i, ';', false).ToInt();
        // A size stored on a larger screen, or before the scale factor grew, would put the
        // status bar out of reach.
        std::vector<QRect> areas;
        for (const QScreen* screen : QGuiApplication::screens())
            areas.push_back(screen->availableGeometry());
        const QRect window =
            FitWindowIntoScreens(QRect(field[0], field[1], field[2], field[3]), FrameMargins(),
                                 areas, QPoint(DesignLeft, DesignTop));
        resize(window.size());
        move(window.topLeft());
        PlacementRestored = true;
    }
    // Shown maximised over the normal place just restored, which it keeps for un-maximising.
    if (key.ReadString(MaximizedValue).ToInt() != 0)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::KeepRestoredPlaceOnScreen() {
    // The frame is known only once the window is shown: a restored place that filled the screen
    // may now stick out by the title bar.
    if (!PlacementRestored || (windowState() & ~Qt::WindowActive) != Qt::WindowNoState)
        return;
    std::vector<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.push_back(screen->availableGeometry());
    const QRect now(pos(), size());
    const QRect fitted =
        FitWindowIntoScreens(now, FrameMargins(), areas, QPoint(DesignLeft, DesignTop));
    if (fitted == now)
        return;
    resize(fitted.size());
    move(fitted.topLeft());
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous() && !PlacementChecked) {
        PlacementChecked = true;
        QTimer::singleShot(0, this, &TMainForm::KeepRestoredPlaceOnScreen);
    }
}

QMargins TMainForm::FrameMargins() const {
    // Known once the window has been shown; before that the frame is taken as none.
    return QMargins(geometry().left() - frameGeometry().left(),
                    geometry().top() - frameGeometry().top(),
                    frameGeometry().right() - geometry().right(),
                    frameGeometry().bottom() - geometry().bottom());
}

void TMainForm::WriteFormSize(TSettingsKey& key) {
    QRect frame(pos(), size());
    const bool maximized = isMaximized();
    if (maximized && normalGeometry().isValid()) {
        // The normal place, at the frame position that FormSize holds: the inside's own position
        // would move the window down by its title bar on every restart.
        const QRect normal = normalGeometry();
        frame = QRect(FramePosition(normal, FrameMargins()), normal.size());
    }
    char text[64];
    snprintf(text, sizeof text, "%d;%d;%d;%d", frame.x(), frame.y(), frame.width(), frame.height());
    key.WriteString("FormSize", text);
    key.WriteString(MaximizedValue, maximized ? "1" : "0");
}
