#include "Misc.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QProcess>
#include <QResource>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "LibError.h"
#include <string>

namespace {

// Builds a binary resource bundle from a few files and registers it under ":/jpegtest", so the
// loader meets real Qt resources: a good JPEG, an empty entry and broken data.
class JpegResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Temp = new QTemporaryDir;
        const QString dir = Temp->path();

        QImage picture(40, 20, QImage::Format_RGB32);
        picture.fill(QColor(200, 30, 40));
        for (int x = 0; x < 20; ++x)
            for (int y = 0; y < 20; ++y)
                picture.setPixelColor(x, y, QColor(20, 40, 220 - (x * y) % 7));
        Ready = picture.save(dir + "/good.jpg", "JPEG", 95);
        QFile(dir + "/empty.jpg").open(QIODevice::WriteOnly);
        QFile broken(dir + "/broken.jpg");
        broken.open(QIODevice::WriteOnly);
        broken.write("GIF89a: some other picture format");
        broken.close();
        // Headers and the start of the scan only: decoding starts, then runs out of data.
        QFile good(dir + "/good.jpg");
        good.open(QIODevice::ReadOnly);
        const QByteArray bytes = good.readAll();
        QFile cut(dir + "/cut.jpg");
        cut.open(QIODevice::WriteOnly);
        cut.write(bytes.left(bytes.size() - 40));
        cut.close();

        QFile qrc(dir + "/test.qrc");
        qrc.open(QIODevice::WriteOnly);
        qrc.write("<RCC><qresource prefix=\"/jpegtest\">"
                  "<file>good.jpg</file><file>empty.jpg</file><file>broken.jpg</file>"
                  "<file>cut.jpg</file></qresource></RCC>");
        qrc.close();

        const QString rcc =
            QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/rcc");
        QProcess process;
        process.setWorkingDirectory(dir);
        process.start(rcc, {"--binary", "test.qrc", "-o", "test.rcc"});
        Ready = Ready && process.waitForFinished(60000) && process.exitCode() == 0 &&
                QResource::registerResource(dir + "/test.rcc");
    }
    static void TearDownTestSuite() {
        QResource::unregisterResource(Temp->path() + "/test.rcc");
        delete Temp;
    }
    void SetUp() override {
        if (!Ready)
            GTEST_SKIP() << "rcc could not build the test resources";
    }

    static std::string ErrorOf(const char* name) {
        QImage image;
        try {
            LoadJPEGFromResourceName(&image, name);
        } catch (const TException& error) {
            EXPECT_TRUE(image.isNull()) << "a failed load must leave the bitmap alone";
            return error.what();
        }
        return "";
    }

    static QTemporaryDir* Temp;
    static bool Ready;
};

QTemporaryDir* JpegResources::Temp = nullptr;
bool JpegResources::Ready = false;

} // namespace

TEST_F(JpegResources, DecodesSizeAndPixels) {
    QImage image;
    LoadJPEGFromResourceName(&image, ":/jpegtest/good.jpg");
    ASSERT_EQ(image.size(), QSize(40, 20));
    const QColor left = image.pixelColor(6, 10);
    const QColor right = image.pixelColor(32, 10);
    EXPECT_NEAR(left.blue(), 220, 12);
    EXPECT_NEAR(left.red(), 20, 12);
    EXPECT_NEAR(right.red(), 200, 12);
    EXPECT_NEAR(right.blue(), 40, 12);

    QImage again;
    LoadJPEGFromResourceName(&again, "jpegtest/good.jpg"); // the ":/" may be left out
    EXPECT_EQ(again, image);
}

TEST_F(JpegResources, EachFailureHasItsOwnText) {
    EXPECT_EQ(ErrorOf(":/jpegtest/missing.jpg"),
              "Resource doesn't contain JPEG image: :/jpegtest/missing.jpg");
    EXPECT_EQ(ErrorOf(":/jpegtest/empty.jpg"),
              "No memory handle for a resource JPEG: :/jpegtest/empty.jpg");
    for (const char* name : {":/jpegtest/broken.jpg", ":/jpegtest/cut.jpg"}) {
        SCOPED_TRACE(name);
        const std::string text = ErrorOf(name);
        EXPECT_EQ(text.rfind(std::string("Cannot decode JPEG image: ") + name + " (", 0), 0u)
            << text;
    }
}

TEST(CreateDisabledBitmap, EmbossesTheDarkPixels) {
    QImage glyph(6, 6, QImage::Format_RGB32);
    glyph.fill(Qt::white);
    glyph.setPixelColor(2, 2, Qt::black);
    glyph.setPixelColor(4, 1, QColor(200, 0, 0));   // dark enough to count as ink
    glyph.setPixelColor(0, 5, QColor(255, 255, 0)); // light: background

    const QColor face(192, 192, 192), highlight(Qt::white), shadow(128, 128, 128);
    QImage disabled;
    CreateDisabledBitmap(&glyph, &disabled, face, highlight, shadow);
    ASSERT_EQ(disabled.size(), glyph.size());
    EXPECT_EQ(disabled.pixelColor(2, 2), shadow);
    EXPECT_EQ(disabled.pixelColor(3, 3), highlight);
    EXPECT_EQ(disabled.pixelColor(4, 1), shadow);
    EXPECT_EQ(disabled.pixelColor(5, 2), highlight);
    EXPECT_EQ(disabled.pixelColor(0, 5), face);
    EXPECT_EQ(disabled.pixelColor(0, 0), face);
}
