// The About window that the Help action opens, and the pictures compiled into
// the program: the collection's registration and damaged records.

#include "about_form.h"
#include "image_collection.h"
#include "image_embedding.h"
#include "main_form.h"
#include "window_text.h"

#include <QtTest>
#include <QtWidgets>

class tst_about : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QCOMPARE(MimeSourceFactory::defaultFactory()->factories().size(), std::size_t(1));
    }

    // Help opens a modal window without parent that closing destroys. Its
    // icon and logos are whole pictures, the logos stretched over their
    // labels, and every credit is there and shown whole, however wide the font.
    void aboutWindow()
    {
        main_form().helpAbout();
        const QPointer about = qobject_cast<about_form*>(QApplication::activeModalWidget());
        QVERIFY(about && !about->parentWidget());
        QCOMPARE(
            retranslatedText(*about, "lib_label"),
            QString(
                "About NUBTactile\ntextLabel3: Developed by: The NUBTactile developers\n"
                "textLabel3_3: Special thanks to: everyone who tested it in the lab\ntextLabel3_2: "
                "E-mail address: nubtactile@example.org\ntextLabel3_3_2_2_2: "
                "https://kestra.example.org\ntextLabel3_3_2_3: Kestra Institute\n"
                "textLabel3_3_2_3_2: Velmora\ntextLabel3_3_2_3_2_2: https://velmora.example.org\n"
                "licence_label: This program is free software under the GNU General Public "
                "License, version 3 or later\nlicence_file_label: See the file COPYING for the "
                "full licence text\nlib_label: This program uses the Qt and zlib libraries\n"
                "lib_web_label: Qt: https://www.qt.io\nlib_web_label_2: zlib: https://zlib.net\n"
                "close_button: Close | Close this window"));
        QList<QSize> pictures{about->windowIcon().actualSize({999, 999})};
        for (QLabel* label : about->findChildren<QLabel*>()) {
            if (label->hasScaledContents())
                pictures << label->pixmap().size();
            else
                QVERIFY(!label->text().isEmpty() &&
                        label->fontMetrics().horizontalAdvance(label->text()) <=
                            label->contentsRect().width());
        }
        QCOMPARE(pictures, QList<QSize>({{68, 88}, {240, 67}, {250, 73}, {414, 179}}));
        about->close_button->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!about);
    }

    // Added once, before main() runs; out and back in without disturbing
    // other factories; null and the default factory itself are never added.
    void registration()
    {
        MimeSourceFactory* const root = MimeSourceFactory::defaultFactory();
        MimeSourceFactory other;
        for (MimeSourceFactory* factory :
             {root, &other, &other, static_cast<MimeSourceFactory*>(nullptr)})
            root->addFactory(factory);
        const std::size_t added = root->factories().size();
        qCleanupImages_nubtactile();
        const bool gone = root->data("braille.png").isNull();
        root->removeFactory(&other);
        qInitImages_nubtactile();
        QVERIFY(added == 2 && gone);
        // Back in, each picture decoded once and then kept.
        QCOMPARE(root->data("braille.png").size(), QSize(68, 88));
        QCOMPARE(root->data("braille.png").constBits(), root->data("braille.png").constBits());
    }

    // A record decodes to the picture the build tool stored; a damaged one
    // yields no picture instead of reading past its data.
    void records_data()
    {
        QTest::addColumn<QList<int>>("record"); // width and bits per pixel
        QTest::addColumn<bool>("decodes");
        QTest::newRow("as written") << QList<int>{5, 32} << true;
        QTest::newRow("wider than its data") << QList<int>{6, 32} << false;
        QTest::newRow("more data than its size") << QList<int>{4, 32} << false;
        QTest::newRow("24 bits deep") << QList<int>{5, 24} << false;
    }

    void records()
    {
        QFETCH(QList<int>, record);
        QFETCH(bool, decodes);
        QImage picture(5, 2, QImage::Format_RGB32);
        for (int i = 0; i < 10; ++i)
            picture.setPixel(i % 5, i / 5, qRgb(i * 25, 255 - i, 7));
        const QByteArray data = compressedPixels(picture);
        const EmbedImage table[] = {{record[0], 2, record[1],
                                     reinterpret_cast<const uchar*>(data.data()),
                                     std::size_t(data.size()), 0, nullptr, false, "picture"},
                                    {}};
        QCOMPARE(findEmbeddedImage(table, "picture"), decodes ? picture : QImage());
    }
};

QTEST_MAIN(tst_about)
#include "tst_about.moc"
