// The window's transfers against korvex-cli's: programming 64 KiB and reading 64 KiB on the
// simulated EB40A with the line-rate model at 115200 baud. Both are timed from the board's side,
// from the first block of the transfer to its last, and printed as a share of the wire limit
// (10 bits a byte: a data block is 82 bytes and a one-byte answer, a read block a 6-byte
// request and an 82-byte reply, each for 80 data bytes). The window's work between an answer
// and the next request is what lowers its share below the command line's.
#include "Addressfrm.h"
#include "BoardModel.h"
#include "BoardSim.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "PortList.h"
#include "Settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr int Speed = 115200;
constexpr int ImageBytes = 64 * 1024;
constexpr const char* Address = "01040000"; // the EB40A's first unprotected sector
constexpr double BytesPerSecond = Speed / 10.0;

using TClock = std::chrono::steady_clock;

// First and last frame of one kind as the board saw them.
struct TSpan {
    std::mutex Lock;
    TFrameKind Kind = TFrameKind::Data;
    int Frames = 0;
    TClock::time_point First, Last;

    void Start(TFrameKind kind) {
        std::lock_guard<std::mutex> hold(Lock);
        Kind = kind;
        Frames = 0;
    }
    void Seen(const TFrameRecord& frame) {
        std::lock_guard<std::mutex> hold(Lock);
        if (frame.Kind != Kind)
            return;
        Last = TClock::now();
        if (Frames++ == 0)
            First = Last;
    }
    // The share of the wire limit, from the blocks after the first.
    double Share(int wireBytesPerBlock) {
        std::lock_guard<std::mutex> hold(Lock);
        const double seconds = std::chrono::duration<double>(Last - First).count();
        if (Frames < 2 || seconds <= 0)
            return 0;
        const double limit = BytesPerSecond / wireBytesPerBlock; // blocks a second
        return (Frames - 1) / seconds / limit;
    }
};

// Answers the address dialog with the given length (empty: address only) once it shows.
void AnswerAddressDialog(const QString& length) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, length] {
        auto* form = qobject_cast<TAddressForm*>(QApplication::activeModalWidget());
        if (!form)
            return;
        timer->stop();
        timer->deleteLater();
        form->StartE->setText(Address);
        if (!length.isEmpty()) {
            form->EndE->clear();
            form->LenE->setText(length);
        }
        form->OkButton->click();
    });
    timer->start(5);
}

double CliShare(TSpan& span, TFrameKind kind, int wire, const QString& cli,
                const QStringList& args) {
    span.Start(kind);
    QProcess process;
    process.start(cli, args);
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        std::fprintf(stderr, "korvex-cli %s failed:\n%s%s\n", qPrintable(args.first()),
                     process.readAllStandardOutput().constData(),
                     process.readAllStandardError().constData());
        return 0;
    }
    return span.Share(wire);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", qPrintable(home.filePath("config")), 1);
    setenv("XDG_RUNTIME_DIR", qPrintable(home.filePath("runtime")), 1);
    QDir().mkpath(home.filePath("runtime"));
    QFile::setPermissions(home.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString cli = QCoreApplication::applicationDirPath() + "/../cli/korvex-cli";

    TBoardConfig config;
    BuiltInBoardType("EB40A", config.Type);
    config.LineRate = true;
    TBoardSim board(config);
    std::string error;
    if (!board.Start(&error)) {
        std::fprintf(stderr, "the simulated board did not start: %s\n", error.c_str());
        return 1;
    }
    TSpan span;
    board.SetFrameObserver([&span](const TFrameRecord& frame) { span.Seen(frame); });
    const QString port = QString::fromStdString(board.PortPath());
    SetPortCandidateSource([port] {
        return std::vector<TPortCandidate>{{port, "", true, "EB40A-flash-boardsim"}};
    });
    // Every question is answered as a user going ahead would.
    SetMsgBoxPresenter(
        [](int flags, const char*) { return (flags & MB_TYPEMASK) == MB_OKCANCEL ? IDOK : IDYES; });
    TSettingsKey().WriteString("LastType", "EB40A");

    QByteArray image(ImageBytes, '\0');
    for (int i = 0; i < ImageBytes; ++i)
        image[i] = static_cast<char>(i * 7 + (i >> 8));
    const QString imagePath = home.filePath("image.bin");
    QFile file(imagePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 1;
    file.close();

    TMainForm form;
    form.show();
    form.SelectType("EB40A");
    form.SynchTBClick();
    if (form.LinkBaud != Speed) {
        std::fprintf(stderr, "the window did not synchronise at %d baud\n", Speed);
        return 1;
    }
    form.LoadImageFile(QFile::encodeName(imagePath).constData());

    span.Start(TFrameKind::Data);
    AnswerAddressDialog(QString());
    form.FlashTBClick();
    const double windowProgram = span.Share(83);
    span.Start(TFrameKind::Read);
    AnswerAddressDialog(QString::number(ImageBytes, 16));
    form.ReadTBClick();
    const double windowRead = span.Share(88);
    form.close();

    const QStringList common = {"-p", port, "--quiet"};
    const double cliProgram = CliShare(
        span, TFrameKind::Data, 83, cli,
        QStringList{"program", imagePath, "--address", QString("0x") + Address, "--type", "EB40A"} +
            common);
    const double cliRead =
        CliShare(span, TFrameKind::Read, 88, cli,
                 QStringList{"read", QString("0x") + Address, QString::number(ImageBytes), "-o",
                             home.filePath("read.bin")} +
                     common);

    std::printf("64 KiB at %d baud, share of the wire limit (aim: window within 0.02)\n", Speed);
    std::printf("  program: window %.3f, korvex-cli %.3f\n", windowProgram, cliProgram);
    std::printf("  read:    window %.3f, korvex-cli %.3f\n", windowRead, cliRead);
    return windowProgram > 0 && windowRead > 0 && cliProgram > 0 && cliRead > 0 ? 0 : 1;
}
