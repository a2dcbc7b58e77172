#include "Aboutfrm.h"

#include "AppGlobals.h"
#include "MainFormHarness.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Stands in for the browser while it lives: records the addresses of `scheme` the desktop was
// asked to open.
class TUrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit TUrlRecorder(const QString& scheme) : FScheme(scheme) {
        QDesktopServices::setUrlHandler(FScheme, this, "Open");
    }
    ~TUrlRecorder() override { QDesktopServices::unsetUrlHandler(FScheme); }

    QList<QUrl> Opened;

public slots:
    void Open(const QUrl& url) { Opened.append(url); }

private:
    QString FScheme;
};

// Runs the box modally and hands it to `act` once it is up; returns the dialog's result.
int ExecWith(TAboutForm& form, std::function<void(TAboutForm&)> act) {
    std::function<void()> poll = [&]() {
        if (QApplication::activeModalWidget() != &form) {
            QTimer::singleShot(10, poll);
            return;
        }
        act(form);
    };
    QTimer::singleShot(0, poll);
    return form.exec();
}

} // namespace

TEST(AboutForm, ShowsTitleAndBuildDate) {
    BuildDate = "May 14 2002";
    TAboutForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "About Korvex");
    EXPECT_EQ(form.BuildL->text(), "Build: May 14 2002");
    EXPECT_TRUE(
        QRegularExpression("^Version [0-9]+\\.[0-9]+").match(form.VersionL->text()).hasMatch())
        << form.VersionL->text().toStdString();
    EXPECT_EQ(form.Label1->text(), "Korvex");
    EXPECT_TRUE(form.Label1->font().bold());
}

TEST(AboutForm, CloseButtonIsDefaultAndCancel) {
    TAboutForm form(nullptr);
    EXPECT_EQ(form.CloseButton->text(), "&Close");
    EXPECT_TRUE(form.CloseButton->isDefault());

    EXPECT_EQ(ExecWith(form, [](TAboutForm& f) { f.CloseButton->click(); }), QDialog::Rejected);
    EXPECT_EQ(ExecWith(form, [](TAboutForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }),
              QDialog::Rejected);
    bool closed = false;
    QObject::connect(&form, &QDialog::finished, [&] { closed = true; });
    EXPECT_EQ(ExecWith(form, [](TAboutForm& f) { QTest::keyClick(&f, Qt::Key_Return); }),
              QDialog::Rejected);
    EXPECT_TRUE(closed);
}

TEST(AboutForm, LogoOpensTheMakersAddressAndTheBoxStays) {
    const QUrl address(QString::fromUtf8(MakerWebAddress));
    TUrlRecorder browser(address.scheme());

    TAboutForm form(nullptr);
    ASSERT_NE(form.LogoImage->pixmap().isNull(), true);
    EXPECT_EQ(form.LogoImage->pixmap().size(), QSize(73, 43));
    EXPECT_EQ(form.LogoImage->toolTip(), address.toString());
    EXPECT_EQ(form.LogoImage->cursor().shape(), Qt::PointingHandCursor);

    bool stillOpen = false;
    ExecWith(form, [&](TAboutForm& f) {
        QTest::mouseClick(f.LogoImage, Qt::LeftButton);
        stillOpen = f.isVisible();
        f.CloseButton->click();
    });
    ASSERT_EQ(browser.Opened.size(), 1);
    EXPECT_EQ(browser.Opened.front(), address);
    EXPECT_TRUE(stillOpen);
}

TEST(AboutForm, AboutCommandShowsTheBoxOverTheMainWindow) {
    TMainFormHarness harness;
    QWidget* shownOver = nullptr;
    bool wasAboutBox = false;
    WhenModalShown([&](QWidget* dialog) {
        auto* about = qobject_cast<TAboutForm*>(dialog);
        wasAboutBox = about != nullptr;
        shownOver = dialog->parentWidget();
        if (about)
            about->CloseButton->click();
    });
    harness->AboutTBClick();
    EXPECT_TRUE(wasAboutBox);
    EXPECT_EQ(shownOver, &harness.Form());
    EXPECT_TRUE(harness->findChildren<TAboutForm*>().isEmpty()); // destroyed after showing
}

#include "Aboutfrm.moc"
