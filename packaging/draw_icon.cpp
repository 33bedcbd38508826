// Build tool: draw_icon OUTPUT.png SIZE
// Draws the program's icon, the Braille cell of ui/images/braille.png, as a
// SIZE x SIZE picture with a transparent surround, so that the desktop gets
// sharp dots at every size instead of a blown-up 68 x 88 bitmap. Fails
// (status 1) on a bad size or when the file cannot be written.
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int size = argc == 3 ? std::atoi(argv[2]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: draw_icon OUTPUT.png SIZE (16 to 1024)\n");
        return 1;
    }
    const QColor ink(0x1f, 0x3a, 0x5f);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        // The card keeps the picture's 3:4 shape and fills the height.
        const qreal height = size * 0.92;
        const qreal width = height * 0.75;
        const QRectF card((size - width) / 2, (size - height) / 2, width, height);
        QLinearGradient shade(card.topLeft(), card.bottomLeft());
        shade.setColorAt(0, Qt::white);
        shade.setColorAt(1, QColor(0xdd, 0xe4, 0xec));
        p.setPen(QPen(ink, qMax<qreal>(1.0, size / 44.0)));
        p.setBrush(shade);
        p.drawRoundedRect(card, width / 6, width / 6);
        // Dots 1, 3, 4 and 6 raised, as in the picture; the others are rings.
        const bool raised[6] = {true, false, true, true, false, true};
        const qreal radius = width * 0.14;
        for (int k = 0; k < 6; ++k) {
            const QPointF centre(card.left() + card.width() * (k % 2 ? 0.7 : 0.3),
                                 card.top() + card.height() * (0.2 + 0.3 * (k / 2)));
            if (raised[k]) {
                p.setPen(Qt::NoPen);
                p.setBrush(ink);
            } else {
                p.setPen(QPen(ink, qMax<qreal>(1.0, radius * 0.3)));
                p.setBrush(Qt::NoBrush);
            }
            p.drawEllipse(centre, radius, radius);
        }
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "draw_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
