#include "about_form.h"

#include "image_collection.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace
{

QFrame* panel(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(x, y, w, h);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    return frame;
}

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* text = new QLabel(parent);
    text->setObjectName(QString::fromLatin1(name));
    text->setGeometry(x, y, w, h);
    return text;
}

// A logo stretched to fill its label, whatever the picture's own size.
QLabel* logo(QWidget* parent, const char* name, int x, int y, int w, int h, const char* picture)
{
    QLabel* image = label(parent, name, x, y, w, h);
    image->setFrameShape(QFrame::Box);
    image->setPixmap(pixmapFromMimeSource(QString::fromLatin1(picture)));
    image->setScaledContents(true);
    return image;
}

// The labels have fixed rectangles; with a wide system font a credit would
// lose its end (the licence's version, a name). Shrink the label's font until
// the whole text fits instead.
void fitToWidth(QLabel* label)
{
    const QFont inherited = label->parentWidget()->font();
    QFont font = inherited;
    const int available = label->contentsRect().width();
    const bool points = font.pointSizeF() > 0;
    for (;;) {
        const qreal size = points ? font.pointSizeF() : qreal(font.pixelSize());
        if (QFontMetrics(font).horizontalAdvance(label->text()) <= available ||
            size <= (points ? 5.0 : 7.0))
            break;
        if (points)
            font.setPointSizeF(size - 0.25);
        else
            font.setPixelSize(int(size) - 1);
    }
    // A label that fits keeps following its parent's font.
    label->setFont(font == inherited ? QFont() : font);
}

} // namespace

about_form::about_form(QWidget* parent, const char* name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    setObjectName(name != nullptr ? QString::fromUtf8(name) : QStringLiteral("about_form"));
    setWindowIcon(pixmapFromMimeSource(QStringLiteral("braille.png")));
    Q_UNUSED(modal);
    setModal(true);

    frame5 = panel(this, "frame5", 10, 10, 450, 90);
    pixmapLabel1_2_3 = logo(frame5, "pixmapLabel1_2_3", 10, 20, 170, 45, "nubtactile.png");
    textLabel3 = label(frame5, "textLabel3", 190, 10, 250, 20);
    textLabel3_3 = label(frame5, "textLabel3_3", 190, 60, 250, 20);
    textLabel3_2 = label(frame5, "textLabel3_2", 190, 30, 250, 20);

    frame9 = panel(this, "frame9", 10, 110, 450, 190);
    textLabel3_3_2_2_2 = label(frame9, "textLabel3_3_2_2_2", 190, 140, 250, 20);
    pixmapLabel1_2_2_2 = logo(frame9, "pixmapLabel1_2_2_2", 10, 10, 170, 80, "velmora.jpg");
    pixmapLabel1_2_2 = logo(frame9, "pixmapLabel1_2_2", 10, 100, 170, 80, "kestra.png");
    textLabel3_3_2_3 = label(frame9, "textLabel3_3_2_3", 190, 117, 250, 20);
    textLabel3_3_2_3_2 = label(frame9, "textLabel3_3_2_3_2", 190, 30, 250, 20);
    textLabel3_3_2_3_2_2 = label(frame9, "textLabel3_3_2_3_2_2", 190, 50, 250, 20);

    frame8 = panel(this, "frame8", 10, 310, 451, 130);
    licence_label = label(frame8, "licence_label", 10, 10, 430, 20);
    licence_file_label = label(frame8, "licence_file_label", 10, 30, 430, 20);
    lib_label = label(frame8, "lib_label", 10, 60, 430, 20);
    lib_web_label = label(frame8, "lib_web_label", 10, 80, 430, 20);
    lib_web_label_2 = label(frame8, "lib_web_label_2", 10, 100, 430, 20);

    close_button = new QPushButton(this);
    close_button->setObjectName(QStringLiteral("close_button"));
    close_button->setGeometry(190, 450, 91, 31);

    languageChange();
    resize(QSize(471, 491).expandedTo(minimumSizeHint()));

    connect(close_button, &QPushButton::clicked, this, &QWidget::close);

    init();
}

about_form::~about_form() = default;

void about_form::init()
{
    setWindowTitle(QStringLiteral("About NUBTactile"));
}

void about_form::languageChange()
{
    textLabel3->setText(tr("Developed by: The NUBTactile developers"));
    textLabel3_3->setText(tr("Special thanks to: everyone who tested it in the lab"));
    textLabel3_2->setText(tr("E-mail address: nubtactile@example.org"));
    textLabel3_3_2_2_2->setText(tr("https://kestra.example.org"));
    textLabel3_3_2_3->setText(tr("Kestra Institute"));
    textLabel3_3_2_3_2->setText(tr("Velmora"));
    textLabel3_3_2_3_2_2->setText(tr("https://velmora.example.org"));
    licence_label->setText(
        tr("This program is free software under the GNU General Public License, version 3 or "
           "later"));
    licence_file_label->setText(tr("See the file COPYING for the full licence text"));
    lib_label->setText(tr("This program uses the Qt and zlib libraries"));
    lib_web_label->setText(tr("Qt: https://www.qt.io"));
    lib_web_label_2->setText(tr("zlib: https://zlib.net"));
    close_button->setText(tr("Close"));
    close_button->setToolTip(tr("Close this window"));

    for (QLabel* text : {textLabel3, textLabel3_3, textLabel3_2, textLabel3_3_2_2_2,
                         textLabel3_3_2_3, textLabel3_3_2_3_2, textLabel3_3_2_3_2_2, licence_label,
                         licence_file_label, lib_label, lib_web_label, lib_web_label_2})
        fitToWidth(text);
}

void about_form::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        languageChange();
    QDialog::changeEvent(event);
}
