#include "Ser2net.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <utility>

namespace {

constexpr int StartTimeoutMs = 5000;

int FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

TSer2net::TSer2net(std::string device, bool charDelay, bool rfc2217)
    : Device(std::move(device)), CharDelay(charDelay), Rfc2217(rfc2217) {}

TSer2net::~TSer2net() {
    Kill();
}

// Another program may take the free port between the probe and ser2net's start: then ser2net
// ends, and another port is tried.
bool TSer2net::Start(std::string* error) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Port = FreePort();
        const QString config = Folder.filePath("ser2net.yaml");
        QFile file(config);
        if (Port == 0 || !file.open(QIODevice::WriteOnly))
            break;
        file.write(QStringLiteral("connection: &board\n"
                                  "  accepter: %4,tcp,127.0.0.1,%1\n"
                                  "  connector: serialdev,%2,115200n81,local\n"
                                  "  options:\n"
                                  "    chardelay: %3\n")
                       .arg(Port)
                       .arg(QString::fromStdString(Device), CharDelay ? "true" : "false",
                            Rfc2217 ? "telnet(rfc2217)" : "telnet")
                       .toUtf8());
        file.close();
        const QString program = QStandardPaths::findExecutable("ser2net", {"/usr/sbin"});
        Server.setProcessChannelMode(QProcess::MergedChannels);
        Server.start(program.isEmpty() ? "ser2net" : program,
                     {"-n", "-u", "-c", config, "-P", Folder.filePath("ser2net.pid")});
        QDeadlineTimer deadline(StartTimeoutMs);
        while (Server.state() != QProcess::NotRunning && !Listening() && !deadline.hasExpired())
            Server.waitForFinished(20);
        if (Server.state() == QProcess::Running && Listening())
            return true;
        Kill();
    }
    if (error)
        *error = "ser2net did not start (scripts/install-deps.sh installs it): " +
                 Server.readAll().toStdString();
    return false;
}

void TSer2net::Kill() {
    if (Server.state() == QProcess::NotRunning)
        return;
    Server.kill();
    Server.waitForFinished(5000);
}

std::string TSer2net::Url() const {
    return "rfc2217://127.0.0.1:" + std::to_string(Port);
}

// Whether something listens on the port: it can no longer be taken here.
bool TSer2net::Listening() const {
    QTcpServer probe;
    return !probe.listen(QHostAddress::LocalHost, static_cast<quint16>(Port));
}
