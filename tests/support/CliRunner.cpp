#include "CliRunner.h"

#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <sstream>

std::unique_ptr<QProcess> StartCli(const QStringList& arguments, const QString& dataHome) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME",
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    if (!dataHome.isEmpty())
        environment.insert("XDG_DATA_HOME", dataHome);
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli"), arguments);
    EXPECT_TRUE(process->waitForStarted(10000)) << "build korvex-cli first";
    return process;
}

TCliRun FinishCli(QProcess& process) {
    EXPECT_TRUE(process.waitForFinished(60000)) << "korvex-cli did not finish";
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

TCliRun RunCli(const QStringList& arguments, const QString& dataHome) {
    return FinishCli(*StartCli(arguments, dataHome));
}

std::vector<QJsonObject> JsonLines(const std::string& text) {
    std::vector<QJsonObject> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        QJsonParseError error;
        objects.push_back(
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object());
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    }
    return objects;
}
