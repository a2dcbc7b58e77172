#include "CliProgress.h"

#include "CliConsole.h"

#include <CLI/CLI.hpp>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <utility>

namespace {

// A follower redraws a bar or writes a log line per event: four a second are plenty, and a
// fast board must not flood a slow reader.
constexpr auto ProgressInterval = std::chrono::milliseconds(250);

constexpr int FormatVersion = 1;

struct TPhaseName {
    const char* Board;
    const char* Event;
};
constexpr TPhaseName PhaseNames[] = {
    {"Synchronizing", "sync"},    {"Checking", "check"},   {"Erasing", "erase"},
    {"Programming", "write"},     {"Verifying", "verify"}, {"Reading", "read"},
    {"Reading back", "readback"}, {"Sending", "upload"},
};

std::string Event(const char* event, const std::string& jsonObject) {
    QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(jsonObject)).object();
    object.insert("v", FormatVersion);
    object.insert("event", QLatin1String(event));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

void AddProgressOption(CLI::App* command, std::string& format) {
    command
        ->add_option("--progress", format,
                     "'json': print on stdout, one JSON object a line, each phase, the bytes done "
                     "a few times a second, and last each board's --json object with "
                     "\"event\": \"result\" (format version \"v\": 1)")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({std::string(ProgressJson)}));
}

std::string EventPhaseName(const std::string& phase) {
    for (const TPhaseName& name : PhaseNames)
        if (phase == name.Board)
            return name.Event;
    // A phase without a name of its own still reads as one word.
    std::string word;
    for (const char ch : phase)
        if (std::isalnum(static_cast<unsigned char>(ch)))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return word;
}

TProgressEvents::TProgressEvents(std::string port, TSink sink, TNow now)
    : Port(std::move(port)), Sink(std::move(sink)), Now(std::move(now)) {
    if (!Sink)
        Sink = [](const std::string& line) { TCliConsole::Instance().Raw(line + "\n"); };
}

void TProgressEvents::Phase(const std::string& name) {
    EndTransfer(true);
    CurrentPhase = EventPhaseName(name);
    TJsonFields json;
    json.AddString("event", "phase");
    json.AddString("phase", CurrentPhase);
    Send(json);
}

void TProgressEvents::Progress(int64_t done, int64_t total) {
    Done = done;
    Total = total;
    if (done >= total || !LastSent || Now() - *LastSent >= ProgressInterval)
        SendProgress(done, total);
}

void TProgressEvents::Result(const std::string& jsonObject, bool completed) {
    EndTransfer(completed);
    Sink(ResultEvent(jsonObject));
}

void TProgressEvents::EndTransfer(bool complete) {
    if (Total > 0) {
        const int64_t last = complete ? Total : Done;
        if (Shown != last)
            SendProgress(last, Total);
    }
    Done = Total = 0;
    Shown = -1;
}

void TProgressEvents::SendProgress(int64_t done, int64_t total) {
    Shown = done;
    LastSent = Now();
    TJsonFields json;
    json.AddString("event", "progress");
    json.AddString("phase", CurrentPhase);
    json.AddNumber("done", done);
    json.AddNumber("total", total);
    Send(json);
}

void TProgressEvents::Send(TJsonFields& json) {
    json.AddString("port", Port);
    json.AddNumber("v", static_cast<int64_t>(FormatVersion));
    Sink(json.Text());
}

std::string ResultEvent(const std::string& jsonObject) {
    return Event("result", jsonObject);
}

std::string TallyEvent(const std::string& jsonObject) {
    return Event("tally", jsonObject);
}
