#include "PortPolling.h"

#include "CliBoards.h"
#include "PortList.h"

#include <QDir>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QTimer>

#include <memory>

namespace {

// One watcher for the life of the process: setting one up for each wait would cost more than
// the wait.
QFileSystemWatcher* AnnouncementWatcher() {
    static std::unique_ptr<QFileSystemWatcher> watcher;
    if (!watcher) {
        watcher = std::make_unique<QFileSystemWatcher>();
        const QString folder = AnnouncedPortsFolder();
        if (!folder.isEmpty() && QDir().mkpath(folder))
            watcher->addPath(folder);
    }
    return watcher.get();
}

} // namespace

void WaitForPortChange(int ms) {
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A signal does not wake the event loop: look for one every few milliseconds.
    QTimer interrupt;
    QObject::connect(&interrupt, &QTimer::timeout, &loop, [&loop] {
        if (InterruptRequested())
            loop.quit();
    });
    QObject::connect(AnnouncementWatcher(), &QFileSystemWatcher::directoryChanged, &loop,
                     &QEventLoop::quit);
    timeout.start(ms);
    interrupt.start(20);
    loop.exec();
}
