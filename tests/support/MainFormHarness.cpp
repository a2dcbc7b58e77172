#include "MainFormHarness.h"

#include "Settings.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

TMainFormHarness::TMainFormHarness(bool clearSettings, bool portCheck) : FPortCheck(portCheck) {
    if (clearSettings)
        TSettingsKey::ClearAll();
    CreateForm();
}

void TMainFormHarness::CreateForm() {
    FForm = std::make_unique<TMainForm>();
    if (!FPortCheck)
        FForm->Timer->stop();
}

TMainFormHarness::~TMainFormHarness() {
    // Destroy the window while the scripted presenter is still installed.
    FForm.reset();
}

bool TMainFormHarness::ShowForm() {
    FForm->show();
    FForm->activateWindow();
    return QTest::qWaitForWindowExposed(FForm.get()) && QTest::qWaitForWindowActive(FForm.get());
}

void TMainFormHarness::CloseForm() {
    if (!FForm)
        return;
    FForm->close();
    FForm.reset();
}

void TMainFormHarness::Restart() {
    CloseForm();
    CreateForm();
}

namespace {

// A dialog the test's action left open would block the test forever: close it after a while.
void CloseIfStillOpen(QWidget* dialog, int timeoutMs) {
    QPointer<QWidget> guard(dialog);
    QTimer::singleShot(timeoutMs, qApp, [guard]() {
        if (!guard || !guard->isVisible())
            return;
        ADD_FAILURE() << "the modal dialog was still open after the test's answer";
        if (auto* box = qobject_cast<QDialog*>(guard.data()))
            box->reject();
        else
            guard->close();
    });
}

} // namespace

void WhenModalShown(std::function<void(QWidget* dialog)> action, int timeoutMs) {
    // A dialog already open (the one a nested dialog is opened from) is not the one awaited.
    QPointer<QWidget> before = QApplication::activeModalWidget();
    // The timer belongs to the application, so it outlives whatever window opened the dialog.
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, before, action, timeoutMs]() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog && dialog != before) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
            CloseIfStillOpen(dialog, timeoutMs);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog was shown within " << timeoutMs << " ms";
        }
    });
    timer->start();
}
