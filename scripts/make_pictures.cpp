// Draws the four pictures of ui/images/ that the program embeds. Run it once
// when a picture changes and commit what it writes; the build never runs it.
//
//   g++ -std=c++17 -fPIC scripts/make_pictures.cpp -o /tmp/make_pictures
//       $(pkg-config --cflags --libs Qt6Gui)    (one line)
//   QT_QPA_PLATFORM=offscreen /tmp/make_pictures ui/images
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <cstdio>

namespace
{

const QColor ink(0x1f, 0x3a, 0x5f);
const QColor accent(0xc8, 0x6b, 0x1e);
const QColor paper(0xfb, 0xfa, 0xf6);

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(paper);
    return image;
}

// A six-dot cell in `area`: raised dots filled, the others drawn as hollow rings.
void drawCell(QPainter& p, const QRectF& area, const bool raised[6], const QColor& colour)
{
    const qreal cols[2] = {area.left() + area.width() * 0.3, area.left() + area.width() * 0.7};
    const qreal rows[3] = {area.top() + area.height() * 0.2, area.top() + area.height() * 0.5,
                           area.top() + area.height() * 0.8};
    const qreal radius = area.width() * 0.14;
    // Element order of the cell: top left, top right, middle left, ...
    for (int k = 0; k < 6; ++k) {
        const QPointF centre(cols[k % 2], rows[k / 2]);
        if (raised[k]) {
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
        } else {
            p.setPen(QPen(colour, qMax<qreal>(1.0, radius * 0.3)));
            p.setBrush(Qt::NoBrush);
        }
        p.drawEllipse(centre, radius, radius);
    }
}

QImage braille()
{
    QImage image = canvas(68, 88);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ink, 2));
    QLinearGradient shade(0, 0, 0, 88);
    shade.setColorAt(0, QColor(0xff, 0xff, 0xff));
    shade.setColorAt(1, QColor(0xdd, 0xe4, 0xec));
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(4, 4, 60, 80), 10, 10);
    const bool dots[6] = {true, false, true, true, false, true};
    drawCell(p, QRectF(4, 4, 60, 80), dots, ink);
    return image;
}

QFont sansFont(int pixels, bool bold)
{
    QFont font("DejaVu Sans");
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// One line of a logo, left-aligned and centred vertically in `box`.
void writeLine(QPainter& p, const QRectF& box, const QFont& font, const QColor& colour,
               const char* text)
{
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
}

QImage nubtactile()
{
    QImage image = canvas(240, 67);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dots[6] = {true, true, false, true, true, false};
    p.setPen(QPen(ink, 1.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(8, 7, 40, 53), 7, 7);
    drawCell(p, QRectF(8, 7, 40, 53), dots, accent);
    writeLine(p, QRectF(56, 4, 184, 44), sansFont(30, true), ink, "NUBTactile");
    writeLine(p, QRectF(58, 44, 180, 18), sansFont(11, false), accent, "tactile stimulation");
    return image;
}

QImage kestra()
{
    QImage image = canvas(414, 179);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A falcon's wing reduced to two chevrons.
    QPainterPath wing;
    wing.moveTo(30, 120);
    wing.lineTo(95, 40);
    wing.lineTo(160, 120);
    wing.lineTo(130, 120);
    wing.lineTo(95, 78);
    wing.lineTo(60, 120);
    wing.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(wing);
    p.setBrush(accent);
    p.drawPath(wing.translated(0, 30));
    QFont serif("DejaVu Serif");
    serif.setPixelSize(58);
    serif.setBold(true);
    writeLine(p, QRectF(180, 25, 230, 80), serif, ink, "Kestra");
    serif.setPixelSize(26);
    serif.setBold(false);
    serif.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    writeLine(p, QRectF(183, 105, 230, 40), serif, accent, "INSTITUTE");
    p.setPen(QPen(ink, 2));
    p.drawLine(183, 150, 395, 150);
    return image;
}

QImage velmora()
{
    QImage image = canvas(250, 73);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 3; ++i) {
        QPainterPath wave;
        wave.moveTo(8, 24 + i * 12);
        wave.cubicTo(22, 12 + i * 12, 36, 36 + i * 12, 50, 24 + i * 12);
        wave.cubicTo(58, 18 + i * 12, 64, 22 + i * 12, 70, 24 + i * 12);
        p.setPen(QPen(i == 1 ? accent : ink, 4, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    writeLine(p, QRectF(80, 6, 168, 46), sansFont(36, true), ink, "Velmora");
    writeLine(p, QRectF(82, 50, 168, 18), sansFont(11, false), accent, "research project");
    return image;
}

bool save(const QImage& image, const QDir& dir, const char* name)
{
    const QString path = dir.filePath(name);
    // Full compression for PNG; JPEG at a quality that keeps the lettering sharp.
    const int quality = path.endsWith(".jpg") ? 95 : 0;
    if (image.save(path, nullptr, quality))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const bool ok = save(braille(), dir, "braille.png") & save(kestra(), dir, "kestra.png") &
                    save(nubtactile(), dir, "nubtactile.png") & save(velmora(), dir, "velmora.jpg");
    return ok ? 0 : 1;
}
