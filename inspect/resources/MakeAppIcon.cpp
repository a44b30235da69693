// Draws the application icon and writes it as "Sentrel.icns" through Qt's ICNS
// image plugin. Run at build time: make_app_icon <output file>.
//
// The picture: a sheet of paper on a blue tile, under a magnifying glass whose
// lens holds a check mark. Shapes only (no text), so no fonts and no
// application object are needed.
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

QImage drawIcon(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 1024.0, pixels / 1024.0);

    // The tile.
    QLinearGradient tile(0, 100, 0, 924);
    tile.setColorAt(0, QColor(58, 120, 200));
    tile.setColorAt(1, QColor(22, 52, 110));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(100, 100, 824, 824), 185, 185);

    // The sheet with a folded corner, and its lines of text.
    QPainterPath sheet;
    sheet.moveTo(250, 190);
    sheet.lineTo(600, 190);
    sheet.lineTo(720, 310);
    sheet.lineTo(720, 800);
    sheet.lineTo(250, 800);
    sheet.closeSubpath();
    painter.setBrush(QColor(248, 248, 244));
    painter.drawPath(sheet);
    QPainterPath fold;
    fold.moveTo(600, 190);
    fold.lineTo(600, 310);
    fold.lineTo(720, 310);
    fold.closeSubpath();
    painter.setBrush(QColor(205, 210, 218));
    painter.drawPath(fold);
    painter.setPen(QPen(QColor(170, 178, 190), 22, Qt::SolidLine, Qt::RoundCap));
    for (int y = 380; y <= 700; y += 64)
        painter.drawLine(QPointF(310, y), QPointF(y < 450 ? 540 : 660, y));

    // The magnifying glass: handle, rim, lens and the check mark in it.
    painter.setPen(QPen(QColor(40, 40, 46), 70, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(720, 720), QPointF(860, 860));
    QRadialGradient lens(QPointF(610, 610), 190);
    lens.setColorAt(0, QColor(255, 255, 255, 235));
    lens.setColorAt(1, QColor(200, 225, 255, 215));
    painter.setBrush(lens);
    painter.setPen(QPen(QColor(40, 40, 46), 44));
    painter.drawEllipse(QPointF(600, 600), 170, 170);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(36, 150, 72), 48, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath check;
    check.moveTo(520, 610);
    check.lineTo(580, 670);
    check.lineTo(690, 540);
    painter.drawPath(check);
    painter.end();
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.icns>\n", argv[0]);
        return 2;
    }
    QImageWriter writer(QString::fromLocal8Bit(argv[1]), "icns");
    if (!writer.write(drawIcon(512))) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}
