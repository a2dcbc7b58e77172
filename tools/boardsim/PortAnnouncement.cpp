#include "PortAnnouncement.h"

#include "PortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A label the file system and a person can both read: letters, digits, '.', '_' and '-'.
std::string Clean(const std::string& label) {
    std::string result;
    for (char c : label)
        result += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'
                      ? c
                      : '_';
    return result.empty() ? "board" : result;
}

} // namespace

TPortAnnouncement::~TPortAnnouncement() {
    Withdraw();
}

bool TPortAnnouncement::Announce(const std::string& label, const std::string& device,
                                 std::string* error) {
    Withdraw();
    const QString folder = AnnouncedPortsFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        if (error)
            *error = folder.isEmpty() ? std::string("the user has no private runtime folder")
                                      : "cannot create " + folder.toStdString();
        return false;
    }
    QDir dir(folder);
    for (const QFileInfo& old :
         dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (old.isSymLink() && !AnnouncementIsLive(old.fileName(), old.symLinkTarget()))
            QFile::remove(old.absoluteFilePath());

    const std::string link =
        folder.toStdString() + "/" + Clean(label) + "-" + std::to_string(::getpid());
    ::unlink(link.c_str());
    if (::symlink(device.c_str(), link.c_str()) != 0) {
        if (error)
            *error = "cannot link " + link + ": " + std::strerror(errno);
        return false;
    }
    Link = link;
    return true;
}

void TPortAnnouncement::Withdraw() {
    if (Link.empty())
        return;
    ::unlink(Link.c_str());
    Link.clear();
}
