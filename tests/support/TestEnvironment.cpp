#include "TestEnvironment.h"

#include <QStandardPaths>

#include <cstdlib>

TTestEnvironment::TTestEnvironment() {
    const QByteArray root = FHome.path().toLocal8Bit();
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
    setenv("HOME", root.constData(), 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QStandardPaths::setTestModeEnabled(true);
}
