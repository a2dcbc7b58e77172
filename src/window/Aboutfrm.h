// The about box: what the program is, its build date and the maker's logo, which opens the
// maker's web site when clicked.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// Where a click on the logo takes the user; also the logo's hint.
extern const char* const MakerWebAddress;
// The logo, a Qt resource holding a JPEG.
extern const char* const MakerLogoResource;

class TAboutForm : public QDialog {
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* owner);

    QFrame* Panel1;
    QLabel* LogoImage;
    QFrame* Bevel1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* VersionL; // the program's version, as korvex --version prints it
    QLabel* BuildL;
    QFrame* Bevel2;
    QFrame* Panel2;
    QPushButton* CloseButton;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LogoImageClick();
    QFrame* MakePanel1();
    QFrame* MakePanel2();
};
