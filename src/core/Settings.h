#pragma once
// The per-user settings key Software\Quillmark\eb40a. Opened for one group of reads or writes
// and closed again when the object goes; nothing of it is cached between groups.

#include "TString.h"

#include <memory>

class QSettings;

class TSettingsKey {
public:
    TSettingsKey();
    ~TSettingsKey();
    TSettingsKey(const TSettingsKey&) = delete;
    TSettingsKey& operator=(const TSettingsKey&) = delete;

    // False when the store can be neither read nor written; readers then give their defaults
    // and writers store nothing.
    bool IsOpen() const;

    bool ValueExists(const char* name) const;
    TString ReadString(const char* name, const char* defaultValue = "") const;
    int ReadInteger(const char* name, int defaultValue = 0) const;

    // False when the value could not be stored.
    bool WriteString(const char* name, const char* value);
    bool WriteInteger(const char* name, int value);
    void DeleteValue(const char* name);

    // Empties the whole key (tests start from a machine with no stored settings).
    static void ClearAll();

private:
    bool Commit();

    std::unique_ptr<QSettings> FSettings;
    bool FOpen;
};
