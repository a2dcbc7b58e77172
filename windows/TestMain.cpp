// The test programs' main for the Windows build: GoogleTest without a QApplication, with the
// temporary folder, the profile and the application-data folders moved to a private scratch
// folder, so that no test touches the user's own files.
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void MoveUserFoldersTo(const char* folder) {
    for (const char* name : {"TEMP", "TMP", "USERPROFILE", "APPDATA", "LOCALAPPDATA", "HOME"})
        _putenv_s(name, folder);
}

} // namespace

int main(int argc, char** argv) {
    TScratchDir home;
    if (!home.IsValid())
        return 1;
    MoveUserFoldersTo(home.Path().c_str());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
