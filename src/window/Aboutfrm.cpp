#include "Aboutfrm.h"

#include "AppGlobals.h"
#include "Misc.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#ifndef KORVEX_VERSION
#define KORVEX_VERSION "unknown"
#endif

const char* const MakerWebAddress = "https://www.quillmark.example/";
const char* const MakerLogoResource = ":/QuillmarkLogo.jpg";

namespace {

QLabel* CentredLabel(const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QFrame* HorizontalBevel(QWidget* parent) {
    auto* bevel = new QFrame(parent);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    return bevel;
}

} // namespace

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("About Korvex"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(MakePanel1());
    layout->addWidget(MakePanel2());

    BuildL->setText(QStringLiteral("Build: ") + QString::fromUtf8(BuildDate()));
}

QFrame* TAboutForm::MakePanel1() {
    Panel1 = new QFrame(this);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(white);

    LogoImage = new QLabel(Panel1);
    QImage logo;
    LoadJPEGFromResourceName(&logo, MakerLogoResource);
    LogoImage->setPixmap(QPixmap::fromImage(logo));
    LogoImage->setFixedSize(73, 43);
    LogoImage->setScaledContents(true);
    LogoImage->setCursor(Qt::PointingHandCursor);
    LogoImage->setToolTip(QString::fromUtf8(MakerWebAddress));
    LogoImage->installEventFilter(this);

    Bevel1 = HorizontalBevel(Panel1);
    Label1 = CentredLabel("Korvex", Panel1);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label2 = CentredLabel("SRAM/Flash loader for ATMEL", Panel1);
    Label3 = CentredLabel("evaluation boards", Panel1);
    VersionL = CentredLabel("Version " KORVEX_VERSION, Panel1);
    BuildL = CentredLabel("", Panel1);
    Bevel2 = HorizontalBevel(Panel1);

    auto* layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(24, 12, 24, 12);
    layout->setSpacing(4);
    layout->addWidget(LogoImage, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(Bevel1);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(Label3);
    layout->addSpacing(4);
    layout->addWidget(VersionL);
    layout->addWidget(BuildL);
    layout->addWidget(Bevel2);
    return Panel1;
}

QFrame* TAboutForm::MakePanel2() {
    Panel2 = new QFrame(this);
    CloseButton = new QPushButton(QStringLiteral("&Close"), Panel2);
    // Default and cancel button at once: Enter and Escape both close the box.
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QHBoxLayout(Panel2);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addStretch();
    layout->addWidget(CloseButton);
    layout->addStretch();
    return Panel2;
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LogoImage && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        LogoImage->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        LogoImageClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::LogoImageClick() {
    // Whether a browser could be started is not reported: the box simply stays open.
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(MakerWebAddress)));
}
