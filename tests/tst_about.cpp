#include "about_form.h"
#include "main_form.h"
#include "pins.h"
#include "portio_sim.h"
#include "pport.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class tst_about : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void widgetTree_data();
    void widgetTree();
    void window();
    void slotTable();
    void helpAbout();
};

void tst_about::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_about::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text"); // for a logo: the picture's size

    const QString w = QStringLiteral("about_form");
    const QString top = QStringLiteral("frame5");
    const QString mid = QStringLiteral("frame9");
    const QString low = QStringLiteral("frame8");
    // In the order the window creates them.
    QTest::newRow("frame5") << "frame5" << w << QRect(10, 10, 450, 90) << "";
    QTest::newRow("pixmapLabel1_2_3")
        << "pixmapLabel1_2_3" << top << QRect(10, 20, 170, 45) << "240x67";
    QTest::newRow("textLabel3") << "textLabel3" << top << QRect(190, 10, 250, 20)
                                << "Developed by: The NUBTactile developers";
    QTest::newRow("textLabel3_3") << "textLabel3_3" << top << QRect(190, 60, 250, 20)
                                  << "Special thanks to: everyone who tested it in the lab";
    QTest::newRow("textLabel3_2") << "textLabel3_2" << top << QRect(190, 30, 250, 20)
                                  << "E-mail address: nubtactile@example.org";
    QTest::newRow("frame9") << "frame9" << w << QRect(10, 110, 450, 190) << "";
    QTest::newRow("textLabel3_3_2_2_2")
        << "textLabel3_3_2_2_2" << mid << QRect(190, 140, 250, 20) << "https://kestra.example.org";
    QTest::newRow("pixmapLabel1_2_2_2")
        << "pixmapLabel1_2_2_2" << mid << QRect(10, 10, 170, 80) << "250x73";
    QTest::newRow("pixmapLabel1_2_2")
        << "pixmapLabel1_2_2" << mid << QRect(10, 100, 170, 80) << "414x179";
    QTest::newRow("textLabel3_3_2_3")
        << "textLabel3_3_2_3" << mid << QRect(190, 117, 250, 20) << "Kestra Institute";
    QTest::newRow("textLabel3_3_2_3_2")
        << "textLabel3_3_2_3_2" << mid << QRect(190, 30, 250, 20) << "Velmora";
    QTest::newRow("textLabel3_3_2_3_2_2")
        << "textLabel3_3_2_3_2_2" << mid << QRect(190, 50, 250, 20)
        << "https://velmora.example.org";
    QTest::newRow("frame8") << "frame8" << w << QRect(10, 310, 451, 130) << "";
    QTest::newRow("licence_label")
        << "licence_label" << low << QRect(10, 10, 430, 20)
        << "This program is free software under the GNU General Public License, version 3 or later";
    QTest::newRow("licence_file_label") << "licence_file_label" << low << QRect(10, 30, 430, 20)
                                        << "See the file COPYING for the full licence text";
    QTest::newRow("lib_label") << "lib_label" << low << QRect(10, 60, 430, 20)
                               << "This program uses the Qt and zlib libraries";
    QTest::newRow("lib_web_label")
        << "lib_web_label" << low << QRect(10, 80, 430, 20) << "Qt: https://www.qt.io";
    QTest::newRow("lib_web_label_2")
        << "lib_web_label_2" << low << QRect(10, 100, 430, 20) << "zlib: https://zlib.net";
    QTest::newRow("close_button") << "close_button" << w << QRect(190, 450, 91, 31) << "Close";
}

void tst_about::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    about_form form;
    const QList<QWidget*> all = form.findChildren<QWidget*>();
    QCOMPARE(all.size(), 19);
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);

    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QCOMPARE(button->text(), text);
        QCOMPARE(button->toolTip(), QStringLiteral("Close this window"));
        return;
    }
    QVERIFY(widget->toolTip().isEmpty());
    auto* frame = qobject_cast<QFrame*>(widget);
    QVERIFY(frame);
    if (name.startsWith(QLatin1String("frame"))) {
        QCOMPARE(frame->metaObject()->className(), "QFrame");
        QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
        QCOMPARE(frame->frameShadow(), QFrame::Raised);
        return;
    }
    auto* label = qobject_cast<QLabel*>(widget);
    QVERIFY(label);
    if (name.startsWith(QLatin1String("pixmap"))) {
        // The whole picture, stretched over the label.
        QCOMPARE(label->frameShape(), QFrame::Box);
        QVERIFY(label->hasScaledContents());
        const QPixmap pixmap = label->pixmap();
        QCOMPARE(QStringLiteral("%1x%2").arg(pixmap.width()).arg(pixmap.height()), text);
        QVERIFY(label->text().isEmpty());
    } else {
        QCOMPARE(label->text(), text);
        QVERIFY(label->pixmap().isNull());
        // Shown whole, however wide the font.
        QVERIFY(label->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width());
    }
}

void tst_about::window()
{
    {
        about_form named(nullptr, "credits", false);
        QCOMPARE(named.objectName(), QStringLiteral("credits"));
    }
    about_form form;
    QCOMPARE(form.objectName(), QStringLiteral("about_form"));
    QVERIFY(form.isModal());
    QVERIFY(!form.windowIcon().isNull());
    QVERIFY(form.width() >= 471 && form.height() >= 491);
    // Created in table order: each panel followed by its own labels.
    QStringList order;
    for (QWidget* w : form.findChildren<QWidget*>())
        order << w->objectName();
    QCOMPARE(order,
             (QStringList{"frame5", "pixmapLabel1_2_3", "textLabel3", "textLabel3_3",
                          "textLabel3_2", "frame9", "textLabel3_3_2_2_2", "pixmapLabel1_2_2_2",
                          "pixmapLabel1_2_2", "textLabel3_3_2_3", "textLabel3_3_2_3_2",
                          "textLabel3_3_2_3_2_2", "frame8", "licence_label", "licence_file_label",
                          "lib_label", "lib_web_label", "lib_web_label_2", "close_button"}));

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("About NUBTactile"));
    QCOMPARE(QApplication::activeModalWidget(), &form);
    form.close_button->click();
    QVERIFY(!form.isVisible());

    form.show();
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
}

void tst_about::slotTable()
{
    const QMetaObject* meta = &about_form::staticMetaObject;
    QCOMPARE(meta->className(), "about_form");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 2);
    const QMetaMethod init = meta->method(meta->methodOffset());
    const QMetaMethod languageChange = meta->method(meta->methodOffset() + 1);
    QCOMPARE(init.methodSignature(), QByteArray("init()"));
    QCOMPARE(init.access(), QMetaMethod::Public);
    QCOMPARE(languageChange.methodSignature(), QByteArray("languageChange()"));
    QCOMPARE(languageChange.access(), QMetaMethod::Protected);
}

void tst_about::helpAbout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    pin_layer_reset();
    portsim::reset();
    {
        main_form window;
        window.helpAbout();
        window.helpAbout();
        QList<QPointer<about_form>> abouts;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* a = qobject_cast<about_form*>(w))
                abouts << a;
        }
        QCOMPARE(abouts.size(), 2);
        for (const QPointer<about_form>& a : abouts) {
            QVERIFY(a->isVisible());
            QVERIFY(a->isModal());
            QVERIFY(a->parentWidget() == nullptr);
            a->close_button->click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<about_form>& a : abouts)
            QVERIFY(a.isNull());
    }
    QVERIFY(QDir::setCurrent(previous));
}

QTEST_MAIN(tst_about)
#include "tst_about.moc"
