#include "Settings.h"

#include <QSettings>

namespace {

std::unique_ptr<QSettings> OpenStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Quillmark"), QStringLiteral("eb40a"));
}

} // namespace

TSettingsKey::TSettingsKey() : FSettings(OpenStore()) {
    // Opening "with create" needs a store we can write; an unreadable or damaged one counts as
    // not opened, as a registry key that cannot be opened would.
    FOpen = FSettings->status() == QSettings::NoError && FSettings->isWritable();
}

TSettingsKey::~TSettingsKey() = default;

bool TSettingsKey::IsOpen() const {
    return FOpen;
}

bool TSettingsKey::ValueExists(const char* name) const {
    return FOpen && FSettings->contains(QString::fromLatin1(name));
}

TString TSettingsKey::ReadString(const char* name, const char* defaultValue) const {
    if (!ValueExists(name))
        return TString(defaultValue);
    // Latin-1 keeps every byte of the single-byte texts the program stores.
    const QByteArray text = FSettings->value(QString::fromLatin1(name)).toString().toLatin1();
    return TString(text.constData());
}

int TSettingsKey::ReadInteger(const char* name, int defaultValue) const {
    if (!ValueExists(name))
        return defaultValue;
    bool ok = false;
    const int value = FSettings->value(QString::fromLatin1(name)).toInt(&ok);
    return ok ? value : defaultValue;
}

bool TSettingsKey::WriteString(const char* name, const char* value) {
    if (!FOpen)
        return false;
    FSettings->setValue(QString::fromLatin1(name), QString::fromLatin1(value));
    return Commit();
}

bool TSettingsKey::WriteInteger(const char* name, int value) {
    if (!FOpen)
        return false;
    FSettings->setValue(QString::fromLatin1(name), value);
    return Commit();
}

void TSettingsKey::DeleteValue(const char* name) {
    if (!FOpen)
        return;
    FSettings->remove(QString::fromLatin1(name));
    Commit();
}

bool TSettingsKey::Commit() {
    FSettings->sync();
    return FSettings->status() == QSettings::NoError;
}

void TSettingsKey::ClearAll() {
    auto settings = OpenStore();
    settings->clear();
    settings->sync();
}
