// The About window: its widgets and texts, the logos stretched over their
// labels, its caption once shown, closing, and the window the Help action opens.

#include "about_form.h"
#include "main_form.h"

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
    }

    void widgetTree_data()
    {
        QTest::addColumn<int>("index"); // place in the order of creation
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("text"); // for a logo: the picture's size
        // Tagged "parent/name".
        int index = 0;
        const auto row = [&index](const char* name, QRect rect, const QString& text = {}) {
            QTest::newRow(name) << index++ << rect << text;
        };
        row("about_form/frame5", {10, 10, 450, 90});
        row("frame5/pixmapLabel1_2_3", {10, 20, 170, 45}, "240x67");
        row("frame5/textLabel3", {190, 10, 250, 20}, "Developed by: The NUBTactile developers");
        row("frame5/textLabel3_3", {190, 60, 250, 20},
            "Special thanks to: everyone who tested it in the lab");
        row("frame5/textLabel3_2", {190, 30, 250, 20}, "E-mail address: nubtactile@example.org");
        row("about_form/frame9", {10, 110, 450, 190});
        row("frame9/textLabel3_3_2_2_2", {190, 140, 250, 20}, "https://kestra.example.org");
        row("frame9/pixmapLabel1_2_2_2", {10, 10, 170, 80}, "250x73");
        row("frame9/pixmapLabel1_2_2", {10, 100, 170, 80}, "414x179");
        row("frame9/textLabel3_3_2_3", {190, 117, 250, 20}, "Kestra Institute");
        row("frame9/textLabel3_3_2_3_2", {190, 30, 250, 20}, "Velmora");
        row("frame9/textLabel3_3_2_3_2_2", {190, 50, 250, 20}, "https://velmora.example.org");
        row("about_form/frame8", {10, 310, 451, 130});
        row("frame8/licence_label", {10, 10, 430, 20},
            "This program is free software under the GNU General Public License, version 3 or "
            "later");
        row("frame8/licence_file_label", {10, 30, 430, 20},
            "See the file COPYING for the full licence text");
        row("frame8/lib_label", {10, 60, 430, 20}, "This program uses the Qt and zlib libraries");
        row("frame8/lib_web_label", {10, 80, 430, 20}, "Qt: https://www.qt.io");
        row("frame8/lib_web_label_2", {10, 100, 430, 20}, "zlib: https://zlib.net");
        row("about_form/close_button", {190, 450, 91, 31}, "Close");
    }

    void widgetTree()
    {
        QFETCH(int, index);
        QFETCH(QRect, rect);
        QFETCH(QString, text);

        about_form form;
        const QList<QWidget*> all = form.findChildren<QWidget*>();
        QCOMPARE(all.size(), 19);
        QWidget* w = all[index];
        QCOMPARE(w->parentWidget()->objectName() + '/' + w->objectName(),
                 QString(QTest::currentDataTag()));
        QCOMPARE(w->geometry(), rect);
        auto* label = qobject_cast<QLabel*>(w);
        if (!label && qobject_cast<QFrame*>(w)) {
            QCOMPARE(static_cast<QFrame*>(w)->frameStyle(), QFrame::StyledPanel | QFrame::Raised);
        } else if (label && !label->pixmap().isNull()) {
            // The whole picture, stretched over the label.
            QCOMPARE(label->frameShape(), QFrame::Box);
            QVERIFY(label->hasScaledContents());
            const QSize size = label->pixmap().size();
            QCOMPARE(QString("%1x%2").arg(size.width()).arg(size.height()), text);
        } else {
            QCOMPARE(w->property("text").toString(), text);
            // Shown whole, however wide the font.
            QVERIFY(w->fontMetrics().horizontalAdvance(text) <= w->contentsRect().width());
            QCOMPARE(w->toolTip(), QString(label ? "" : "Close this window"));
        }
    }

    void window()
    {
        const about_form named(nullptr, "credits");
        QCOMPARE(named.objectName(), QString("credits"));
        about_form form;
        QCOMPARE(form.objectName(), QString("about_form"));
        QVERIFY(form.isModal());
        QVERIFY(!form.windowIcon().isNull());
        QCOMPARE(form.size(), QSize(471, 491).expandedTo(form.minimumSizeHint()));

        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QString("About NUBTactile"));
        QCOMPARE(QApplication::activeModalWidget(), &form);
        form.close_button->click();
        QVERIFY(!form.isVisible());
        form.show();
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
    }

    // Each request opens a window of its own, shown, modal and without parent,
    // that closing destroys.
    void helpAbout()
    {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QVERIFY(dir.isValid() && QDir::setCurrent(dir.path()));
        {
            main_form window;
            window.helpAbout();
            window.helpAbout();
            int opened = 0;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* about = qobject_cast<about_form*>(w)) {
                    QVERIFY(about->isVisible() && about->isModal() && !about->parentWidget());
                    about->close_button->click();
                    ++opened;
                }
            }
            QCOMPARE(opened, 2);
        }
        QVERIFY(QDir::setCurrent(previous));
    }
};

QTEST_MAIN(tst_about)
#include "tst_about.moc"
