// korvex-cli run as the tests run it: it reads the settings this test program writes, and keeps
// its per-user data (the ledgers) in a folder of the test's own when one is given.
#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

struct TCliRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Starts korvex-cli with the arguments; the process is the caller's.
std::unique_ptr<QProcess> StartCli(const QStringList& arguments, const QString& dataHome = {});
// Waits for the process to end (a generous bound) and takes what it printed.
TCliRun FinishCli(QProcess& process);
TCliRun RunCli(const QStringList& arguments, const QString& dataHome = {});
// Each line of text as a JSON object (--json, --log); a line that is none fails the test.
std::vector<QJsonObject> JsonLines(const std::string& text);
