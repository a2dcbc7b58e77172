#include "CliOperationLog.h"

#include "CliConsole.h"
#include "OperationLog.h"

#include <CLI/CLI.hpp>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <exception>
#include <memory>

void AddLogOption(CLI::App* command, std::string& path) {
    command->add_option("--log", path, "append one JSON line per board to FILE")
        ->option_text("FILE");
}

TBoardWork LoggedWork(const std::string& path, const char* operation, const uint8_t* image,
                      int64_t imageLength, TBoardWork work) {
    if (path.empty())
        return work;
    // Opened before any board is touched: a log that cannot take lines is a mistake on the
    // command line, not something to find out after the flash was written.
    auto log = std::make_shared<TOperationLog>();
    std::string error;
    if (!log->Open(path, &error))
        throw TCliUsageError(error);
    const std::string sha = image ? Sha256Hex(image, imageLength) : std::string();
    return [log, operation, sha, work](TBoard& board) {
        const QDateTime started = QDateTime::currentDateTimeUtc();
        try {
            work(board);
        } catch (const std::exception& error) {
            board.Fail(error.what());
        }
        board.Finish();
        QJsonObject entry =
            QJsonDocument::fromJson(QByteArray::fromStdString(board.JsonText(operation))).object();
        entry["time"] = started.toString(Qt::ISODateWithMs);
        if (!sha.empty())
            entry["file_sha256"] = QString::fromStdString(sha);
        std::string error;
        if (!log->Append(
                entry, [] { return !InterruptRequested(); }, &error))
            TCliConsole::Instance().Err(board.Port() + ": ", "warning: " + error);
    };
}
