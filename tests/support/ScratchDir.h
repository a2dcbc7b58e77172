// A private folder for one test, made under the system's temporary folder and removed with
// everything in it when the object goes. Needs no Qt, so the library's tests build anywhere.
#pragma once

#include <string>

class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    bool IsValid() const { return !FPath.empty(); }
    // The folder, without a trailing separator; empty when it could not be made.
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};
