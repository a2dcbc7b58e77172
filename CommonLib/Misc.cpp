#include "Misc.h"

#include "LibError.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QResource>
#include <QString>
#include <QWidget>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

namespace {

QMessageBox::StandardButton ButtonOf(int answer) {
    switch (answer) {
    case IDCANCEL:
        return QMessageBox::Cancel;
    case IDABORT:
        return QMessageBox::Abort;
    case IDRETRY:
        return QMessageBox::Retry;
    case IDIGNORE:
        return QMessageBox::Ignore;
    case IDYES:
        return QMessageBox::Yes;
    case IDNO:
        return QMessageBox::No;
    default:
        return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconOf(int flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The answer when the box is closed without a button (Escape, the window's close button): the
// same one Windows gives, Cancel where there is one, otherwise the safe choice.
int DismissAnswer(int flags) {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDOK;
    }
}

} // namespace

int QMessageBoxPresenter(int flags, const char* text) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();

    QMessageBox box(parent);
    box.setWindowTitle(QString::fromUtf8(MsgBoxCaption));
    box.setTextFormat(Qt::PlainText); // paths and device names are never markup
    box.setText(QString::fromLocal8Bit(text));
    box.setIcon(IconOf(flags));

    int answers[3];
    const int count = MsgBoxAnswers(flags, answers);
    QMessageBox::StandardButtons buttons;
    for (int i = 0; i < count; ++i)
        buttons |= ButtonOf(answers[i]);
    box.setStandardButtons(buttons);
    box.setDefaultButton(ButtonOf(MsgBoxDefaultAnswer(flags)));

    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (int i = 0; i < count; ++i) {
        if (ButtonOf(answers[i]) == pressed)
            return answers[i];
    }
    return DismissAnswer(flags);
}

namespace {

// libjpeg ends the process on errors unless its error handler leaves by longjmp; the message is
// kept for the exception raised once we are back in C++ code.
struct TJpegErrorManager {
    jpeg_error_mgr Public;
    std::jmp_buf Return;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<TJpegErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->Message);
    std::longjmp(manager->Return, 1);
}

// Warnings are passed over, except running out of data: libjpeg would pad the missing rows with
// grey and call the damaged picture a success.
void JpegEmitMessage(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        JpegErrorExit(info);
}

// Plain C-style decoding so that longjmp skips no destructor. Returns false with `error` set
// when libjpeg gives up; `image` is then left null.
bool DecodeJpeg(const unsigned char* data, unsigned long size, QImage* image, char* error) {
    jpeg_decompress_struct info;
    TJpegErrorManager errors;
    info.err = jpeg_std_error(&errors.Public);
    errors.Public.error_exit = JpegErrorExit;
    errors.Public.emit_message = JpegEmitMessage;
    errors.Message[0] = '\0';
    if (setjmp(errors.Return)) {
        jpeg_destroy_decompress(&info);
        std::snprintf(error, JMSG_LENGTH_MAX, "%s", errors.Message);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);

    // Allocated before any row is read; a failed allocation leaves a null image behind.
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                    QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(&info);
        std::snprintf(error, JMSG_LENGTH_MAX, "Out of memory");
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

[[noreturn]] void ThrowJpegError(const char* what, const char* name) {
    throw TException(std::string(what) + name);
}

} // namespace

void LoadJPEGFromResourceName(QImage* bitmap, const char* name) {
    QString path = QString::fromUtf8(name);
    if (!path.startsWith(QLatin1Char(':')))
        path.prepend(QLatin1String(":/"));
    QResource resource(path);
    if (!resource.isValid())
        ThrowJpegError("Resource doesn't contain JPEG image: ", name);
    const QByteArray bytes = resource.uncompressedData();
    if (bytes.isEmpty())
        ThrowJpegError("No memory handle for a resource JPEG: ", name);

    QImage decoded;
    char reason[JMSG_LENGTH_MAX];
    if (!DecodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()),
                    static_cast<unsigned long>(bytes.size()), &decoded, reason)) {
        decoded = QImage(); // drop the rows decoded before the failure
        throw TException(std::string("Cannot decode JPEG image: ") + name + " (" + reason + ")");
    }
    *bitmap = decoded;
}

namespace {

// The glyph's ink: opaque pixels darker than mid-grey; light pixels count as its background.
QImage InkMask(const QImage& source) {
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    QImage mask(argb.size(), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(in[x]) >= 128 && qGray(in[x]) < 128)
                out[x] = qRgba(0, 0, 0, 255);
        }
    }
    return mask;
}

// `mask` painted in `colour`: opaque where the mask has ink, transparent elsewhere.
QImage Tinted(const QImage& mask, const QColor& colour) {
    QImage tinted = mask;
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), colour);
    return tinted;
}

} // namespace

void CreateDisabledBitmap(const QImage* source, QImage* target, const QColor& background,
                          const QColor& highlight, const QColor& shadow) {
    const QImage mask = InkMask(*source);
    QImage result(source->size(), QImage::Format_RGB32);
    result.fill(background);
    QPainter painter(&result);
    painter.drawImage(1, 1, Tinted(mask, highlight));
    painter.drawImage(0, 0, Tinted(mask, shadow));
    painter.end();
    *target = result;
}
