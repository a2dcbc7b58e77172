// The environment every test program runs in: the settings store, the runtime folder and the
// home folder moved to a private temporary folder, so that no test touches the user's own
// settings, and the offscreen platform unless another one is asked for.
#pragma once

#include <QTemporaryDir>

class TTestEnvironment {
public:
    // Call before the application object is created.
    TTestEnvironment();

private:
    QTemporaryDir FHome;
};
