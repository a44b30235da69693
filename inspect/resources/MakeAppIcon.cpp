// Draws the application icon. Run at build time, in one of two ways:
//
//   make_app_icon <output.icns>
//       the Mac icon file, written through Qt's ICNS image plugin;
//   make_app_icon --theme <icon theme folder> <icon name>
//       the desktop's icons: <folder>/<N>x<N>/apps/<name>.png for each size
//       an icon theme asks for, and <folder>/scalable/apps/<name>.svg.
//
// Both come from the one drawing below, so the icon a file manager shows is
// the same picture as the one inside the program's resources.
//
// The picture: a sheet of paper on a blue tile, under a magnifying glass whose
// lens holds a check mark. Shapes only (no text), so no fonts and no
// application object are needed.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QSvgGenerator>

#include <cstdio>
#include <cstring>

namespace {

// The drawing is laid out on a 1024 x 1024 canvas; callers scale the painter.
constexpr int kCanvas = 1024;

void paintIcon(QPainter& painter)
{

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
}

QImage drawIcon(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(double(pixels) / kCanvas, double(pixels) / kCanvas);
    paintIcon(painter);
    painter.end();
    return image;
}

// The same drawing as vector paths. Qt sizes the document in millimetres at
// the generator's resolution; an icon's size is in pixels, so the outer
// element gets unit-less dimensions equal to its view box. Qt also writes the
// painter's font on every group, with a size of -1 when the font has none in
// points; the drawing has no text, and a negative size is an error to SVG
// readers, so those attributes go.
QByteArray drawSvg()
{
    QBuffer buffer;
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(kCanvas, kCanvas));
    generator.setViewBox(QRect(0, 0, kCanvas, kCanvas));
    generator.setTitle(QStringLiteral("Sentrel"));
    QPainter painter(&generator);
    painter.setRenderHint(QPainter::Antialiasing);
    paintIcon(painter);
    painter.end();
    QString text = QString::fromUtf8(buffer.data());
    static const QRegularExpression size(QStringLiteral("(<svg[^>]*?)\\swidth=\"[^\"]*\"\\s+height=\"[^\"]*\""));
    text.replace(size, QStringLiteral("\\1 width=\"%1\" height=\"%1\"").arg(kCanvas));
    static const QRegularExpression font(QStringLiteral("\\sfont-(?:family|size|style|weight)=\"[^\"]*\""));
    text.remove(font);
    return text.toUtf8();
}

bool writeImage(const QString& path, const QImage& image, const char* format)
{
    QImageWriter writer(path, format);
    if (writer.write(image))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
    return false;
}

// The sizes the hicolor theme lists for applications, in pixels.
constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

bool writeTheme(const QString& folder, const QString& name)
{
    for (int pixels : kThemeSizes) {
        QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(pixels);
        if (!QDir().mkpath(apps)) {
            std::fprintf(stderr, "%s: cannot create the folder\n", qPrintable(apps));
            return false;
        }
        if (!writeImage(apps + "/" + name + ".png", drawIcon(pixels), "png"))
            return false;
    }
    QString scalable = folder + "/scalable/apps";
    QFile svg(scalable + "/" + name + ".svg");
    QByteArray document = drawSvg();
    if (!QDir().mkpath(scalable) || !svg.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || svg.write(document) != document.size()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(svg.fileName()), qPrintable(svg.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--theme") == 0)
        return writeTheme(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.icns>\n"
                             "       %s --theme <icon theme folder> <icon name>\n", argv[0], argv[0]);
        return 2;
    }
    return writeImage(QString::fromLocal8Bit(argv[1]), drawIcon(512), "icns") ? 0 : 1;
}
