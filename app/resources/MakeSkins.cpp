// Draws the application's window skins as PDF files, whose transparent areas
// make the windows' shapes. Run at build time:
//   make_skins <resource folder> <version>
// writes "Welcome to Sentrel.pdf" (the splash window, shown while no document is open)
// and "About Sentrel.pdf" (the about box). A skinned window's title names its
// skin, so these names are the windows' titles without the extension.
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <cstdio>

namespace {

// A page exactly `width` x `height` points, drawn in points.
bool writePdf(const QString& path, double width, double height, void (*draw)(QPainter&, const QString&),
              const QString& version)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QSizeF(width, height), QPageSize::Point, QString(), QPageSize::ExactMatch));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setCreator("Sentrel");
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, version);
    return painter.end();
}

// The magnifying glass over a sheet, small, as in the application icon.
void drawEmblem(QPainter& p, QPointF at, double size)
{
    p.save();
    p.translate(at);
    p.scale(size / 100.0, size / 100.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(248, 248, 244));
    p.drawRoundedRect(QRectF(14, 8, 50, 66), 4, 4);
    p.setPen(QPen(QColor(170, 178, 190), 4, Qt::SolidLine, Qt::RoundCap));
    for (int y = 22; y <= 58; y += 9)
        p.drawLine(QPointF(22, y), QPointF(y < 30 ? 44 : 56, y));
    p.setPen(QPen(QColor(40, 40, 46), 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(72, 72), QPointF(90, 90));
    p.setPen(QPen(QColor(40, 40, 46), 6));
    p.setBrush(QColor(220, 236, 255, 230));
    p.drawEllipse(QPointF(58, 58), 22, 22);
    p.setPen(QPen(QColor(30, 150, 80), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath check;
    check.moveTo(47, 58);
    check.lineTo(55, 66);
    check.lineTo(70, 49);
    p.drawPath(check);
    p.restore();
}

void drawText(QPainter& p, const QRectF& box, const QString& text, int pointSize, QColor colour, bool bold,
              int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap)
{
    QFont font("DejaVu Sans");
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, flags, text);
}

// The splash: a card inviting a drop. Its lower right corner is square and
// carries a grip, since dragging there resizes the window.
void drawSplash(QPainter& p, const QString&)
{
    const double r = 22;
    const QRectF edge(0.75, 0.75, 438.5, 298.5);   // inside the page by half the outline
    QPainterPath card;
    card.moveTo(edge.left() + r, edge.top());
    card.arcTo(QRectF(edge.right() - 2 * r, edge.top(), 2 * r, 2 * r), 90, -90);
    card.lineTo(edge.bottomRight());
    card.arcTo(QRectF(edge.left(), edge.bottom() - 2 * r, 2 * r, 2 * r), 270, -90);
    card.arcTo(QRectF(edge.left(), edge.top(), 2 * r, 2 * r), 180, -90);
    card.closeSubpath();
    QLinearGradient fill(0, 6, 0, 294);
    fill.setColorAt(0, QColor(250, 251, 253));
    fill.setColorAt(1, QColor(229, 234, 242));
    p.setPen(QPen(QColor(150, 160, 178), 1.5));
    p.setBrush(fill);
    p.drawPath(card);
    p.setPen(QPen(QColor(140, 150, 168), 1.5, Qt::SolidLine, Qt::RoundCap));
    for (int i = 1; i <= 3; ++i)
        p.drawLine(QPointF(436 - 7 * i, 296), QPointF(436, 296 - 7 * i));

    drawEmblem(p, QPointF(28, 22), 56);
    drawText(p, QRectF(96, 26, 320, 30), "Sentrel", 20, QColor(28, 40, 64), true, Qt::AlignLeft | Qt::AlignVCenter);
    drawText(p, QRectF(96, 54, 320, 22), "Where a file came from, and how far its code may be trusted", 8,
             QColor(80, 90, 110), false, Qt::AlignLeft | Qt::AlignVCenter);

    const QRectF drop(30, 100, 380, 150);
    p.setPen(QPen(QColor(90, 130, 200), 2, Qt::DashLine, Qt::RoundCap));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRoundedRect(drop, 14, 14);
    // A downward arrow into the tray.
    p.setPen(QPen(QColor(90, 130, 200), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(220, 118), QPointF(220, 150));
    p.drawLine(QPointF(206, 138), QPointF(220, 152));
    p.drawLine(QPointF(234, 138), QPointF(220, 152));
    drawText(p, QRectF(40, 160, 360, 26), "Drop an application or a file here", 12, QColor(40, 60, 100), true);
    drawText(p, QRectF(40, 188, 360, 40), "or choose File \u25B8 Open\u2026 (Ctrl+O)", 9, QColor(80, 90, 110), false);
    drawText(p, QRectF(30, 258, 380, 24), "Drag this window anywhere; resize it from its lower right corner.", 7,
             QColor(120, 128, 142), false);
}

// The about box: a dark rounded plate; a click closes it.
void drawAbout(QPainter& p, const QString& version)
{
    const QRectF plate(4, 4, 312, 192);
    QLinearGradient fill(0, 4, 0, 196);
    fill.setColorAt(0, QColor(44, 72, 120));
    fill.setColorAt(1, QColor(18, 32, 62));
    p.setPen(QPen(QColor(140, 170, 220), 1.5));
    p.setBrush(fill);
    p.drawRoundedRect(plate, 26, 26);
    drawEmblem(p, QPointF(26, 30), 72);
    drawText(p, QRectF(110, 34, 190, 34), "Sentrel", 24, Qt::white, true, Qt::AlignLeft | Qt::AlignVCenter);
    drawText(p, QRectF(110, 70, 190, 20), "Version " + version, 9, QColor(200, 215, 240), false,
             Qt::AlignLeft | Qt::AlignVCenter);
    drawText(p, QRectF(24, 112, 272, 40),
             "Tells where a file came from and how far its code may be trusted.", 9, QColor(225, 232, 245), false);
    drawText(p, QRectF(24, 160, 272, 20), "Click to close", 7, QColor(160, 180, 215), false);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_skins <resource folder> <version>\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString version = QString::fromLocal8Bit(argv[2]);
    if (!writePdf(folder + "/Welcome to Sentrel.pdf", 440, 300, drawSplash, version) ||
        !writePdf(folder + "/About Sentrel.pdf", 320, 200, drawAbout, version)) {
        std::fprintf(stderr, "make_skins: cannot write the skins into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
