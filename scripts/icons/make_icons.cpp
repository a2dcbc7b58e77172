// Draws the main window's tool-bar icons into src/window/resources: name.png at 24 x 24 and
// name@2x.png at 48 x 48 for screens with twice the pixel density, which Qt picks by itself.
// Not part of the build; run scripts/icons/make_icons.sh after changing a drawing.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor Ink(0x33, 0x3d, 0x4f);
const QColor Blue(0x2f, 0x78, 0xd0);
const QColor Green(0x2e, 0x9b, 0x4a);
const QColor Red(0xd2, 0x3b, 0x30);
const QColor Amber(0xf0, 0xb4, 0x2a);
const QColor Paper(0xfa, 0xfa, 0xf7);
const QColor Chip(0x4a, 0x55, 0x68);

QPen Stroke(const QColor& color, double width = 1.6) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A memory chip with pins, the common motif of the board commands.
void DrawChip(QPainter& p, QRectF body = QRectF(5, 7, 14, 12)) {
    p.setPen(Stroke(Ink, 1.2));
    for (double x = body.left() + 2.5; x < body.right() - 1; x += 3) {
        p.drawLine(QPointF(x, body.top() - 2.5), QPointF(x, body.top()));
        p.drawLine(QPointF(x, body.bottom()), QPointF(x, body.bottom() + 2.5));
    }
    p.setBrush(Chip);
    p.drawRoundedRect(body, 1.5, 1.5);
    p.setBrush(Qt::NoBrush);
}

void DrawArrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width = 2.2) {
    p.setPen(Stroke(color, width));
    p.drawLine(from, to);
    const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
    const double head = 4.5;
    for (double side : {-0.6, 0.6}) {
        p.drawLine(to, QPointF(to.x() - head * std::cos(angle + side),
                               to.y() - head * std::sin(angle + side)));
    }
}

void DrawBadge(QPainter& p, const QColor& color) {
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(color);
    p.drawEllipse(QRectF(12.5, 12.5, 11, 11));
    p.setBrush(Qt::NoBrush);
}

void Open(QPainter& p) {
    p.setPen(Stroke(Ink, 1.2));
    p.setBrush(Amber.darker(115));
    p.drawRoundedRect(QRectF(2, 5, 18, 15), 1.5, 1.5);
    p.setBrush(Amber);
    QPainterPath front;
    front.moveTo(4.5, 9.5);
    front.lineTo(22.5, 9.5);
    front.lineTo(19.5, 20);
    front.lineTo(2, 20);
    front.closeSubpath();
    p.drawPath(front);
}

void Refresh(QPainter& p) {
    p.setPen(Stroke(Green, 2.4));
    p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Green);
    QPainterPath head;
    head.moveTo(13, 1.5);
    head.lineTo(19.5, 5.5);
    head.lineTo(13.5, 10);
    head.closeSubpath();
    p.drawPath(head);
}

void Clear(QPainter& p) {
    p.setPen(Stroke(Ink, 1.2));
    p.setBrush(Paper);
    p.drawRect(QRectF(3.5, 2.5, 14, 19));
    p.setPen(Stroke(QColor(0xa0, 0xa8, 0xb4), 1.2));
    for (double y = 7; y < 19; y += 3)
        p.drawLine(QPointF(6.5, y), QPointF(14.5, y));
    // eraser
    p.setPen(Stroke(Ink, 1.2));
    p.save();
    p.translate(17, 16);
    p.rotate(-40);
    p.setBrush(QColor(0xf2, 0x8b, 0x9a));
    p.drawRoundedRect(QRectF(-3.5, -7, 7, 10), 1, 1);
    p.setBrush(QColor(0xe6, 0xe9, 0xef));
    p.drawRoundedRect(QRectF(-3.5, 3, 7, 4), 1, 1);
    p.restore();
}

void Preferences(QPainter& p) {
    p.save();
    p.translate(12, 12);
    p.setPen(Stroke(Ink, 1.2));
    p.setBrush(QColor(0x8a, 0x96, 0xa8));
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double angle = i * M_PI / teeth;
        const double r = (i % 2 == 0) ? 10.0 : 7.5;
        const double a0 = angle - M_PI / teeth / 2, a1 = angle + M_PI / teeth / 2;
        const QPointF p0(r * std::cos(a0), r * std::sin(a0)),
            p1(r * std::cos(a1), r * std::sin(a1));
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(QPointF(0, 0), 3.2, 3.2);
    gear.setFillRule(Qt::OddEvenFill);
    p.drawPath(gear);
    p.restore();
}

void Sram(QPainter& p) {
    DrawChip(p, QRectF(3, 9, 14, 11));
    DrawArrow(p, QPointF(20, 2), QPointF(20, 14), Blue);
    p.setPen(Stroke(Paper, 1.0));
    QFont font("DejaVu Sans", 5);
    font.setPixelSize(6);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(3, 9, 14, 11), Qt::AlignCenter, "RAM");
}

void Synch(QPainter& p) {
    DrawArrow(p, QPointF(3, 8), QPointF(20, 8), Blue);
    DrawArrow(p, QPointF(21, 16), QPointF(4, 16), Green);
}

void Read(QPainter& p) {
    DrawChip(p);
    DrawBadge(p, Blue);
    DrawArrow(p, QPointF(18, 21), QPointF(18, 15.5), Qt::white, 1.6);
}

void Flash(QPainter& p) {
    DrawChip(p);
    p.setPen(Stroke(Ink, 1.0));
    p.setBrush(Amber);
    QPainterPath bolt;
    bolt.moveTo(16, 9);
    bolt.lineTo(11, 16.5);
    bolt.lineTo(14.5, 16.5);
    bolt.lineTo(12.5, 23);
    bolt.lineTo(19.5, 14);
    bolt.lineTo(15.5, 14);
    bolt.lineTo(18, 9);
    bolt.closeSubpath();
    p.drawPath(bolt);
}

void Verify(QPainter& p) {
    DrawChip(p);
    DrawBadge(p, Green);
    p.setPen(Stroke(Qt::white, 1.8));
    p.drawLine(QPointF(15, 18), QPointF(17.3, 20.3));
    p.drawLine(QPointF(17.3, 20.3), QPointF(21, 15.5));
}

void EraseSector(QPainter& p) {
    DrawChip(p);
    DrawBadge(p, Red);
    p.setPen(Stroke(Qt::white, 1.8));
    p.drawLine(QPointF(15.5, 15.5), QPointF(20.5, 20.5));
    p.drawLine(QPointF(20.5, 15.5), QPointF(15.5, 20.5));
}

void EraseAll(QPainter& p) {
    DrawChip(p, QRectF(3, 5, 12, 10));
    DrawChip(p, QRectF(7, 9, 12, 10));
    DrawBadge(p, Red);
    p.setPen(Stroke(Qt::white, 1.8));
    p.drawLine(QPointF(15.5, 15.5), QPointF(20.5, 20.5));
    p.drawLine(QPointF(20.5, 15.5), QPointF(15.5, 20.5));
}

void About(QPainter& p) {
    p.setPen(Stroke(Blue.darker(120), 1.2));
    p.setBrush(Blue);
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(10.6, 5.5, 2.8, 2.8));
    p.drawRoundedRect(QRectF(10.7, 10, 2.6, 8.5), 1, 1);
}

void Exit(QPainter& p) {
    p.setPen(Stroke(Ink, 1.2));
    p.setBrush(QColor(0xb0, 0x7a, 0x4c));
    p.drawRect(QRectF(3.5, 2.5, 11, 19));
    p.setBrush(Amber);
    p.drawEllipse(QRectF(11, 11, 2, 2));
    DrawArrow(p, QPointF(12, 12), QPointF(22, 12), Red, 2.2);
}

bool SaveAt(const char* folder, const char* name, int scale,
            const std::function<void(QPainter&)>& draw) {
    QImage image(24 * scale, 24 * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The drawings are in 24-unit coordinates; the larger image gets them at full detail.
    painter.scale(scale, scale);
    draw(painter);
    painter.end();
    const QString path =
        QString("%1/%2%3.png")
            .arg(folder, name, scale == 1 ? QString() : QString("@%1x").arg(scale));
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool Save(const char* folder, const char* name, const std::function<void(QPainter&)>& draw) {
    const bool normal = SaveAt(folder, name, 1, draw);
    return SaveAt(folder, name, 2, draw) && normal;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const char* folder = argc > 1 ? argv[1] : "src/window/resources";
    const struct {
        const char* name;
        void (*draw)(QPainter&);
    } icons[] = {{"open", Open},         {"refresh", Refresh},
                 {"clear", Clear},       {"preferences", Preferences},
                 {"sram", Sram},         {"synch", Synch},
                 {"read", Read},         {"flash", Flash},
                 {"verify", Verify},     {"erasesector", EraseSector},
                 {"eraseall", EraseAll}, {"about", About},
                 {"exit", Exit}};
    bool ok = true;
    for (const auto& icon : icons)
        ok = Save(folder, icon.name, icon.draw) && ok;
    return ok ? 0 : 1;
}
