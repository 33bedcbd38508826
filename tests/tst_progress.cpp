#include "nubtactile.h"
#include "port_session.h"
#include "portio_sim.h"
#include "progress_observer.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <climits>
#include <memory>
#include <sstream>

namespace
{

constexpr std::int64_t MS = NS_PER_MS;

QProgressDialog* progressDialog()
{
    return qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
}

// Presses Abort the way a user would: the click waits in the event queue until
// the transmission lets events run.
void queueAbortClick()
{
    QVERIFY(progressDialog());
    auto* button = progressDialog()->findChild<QPushButton*>();
    QCOMPARE(button->text(), QStringLiteral("Abort"));
    QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

// "value/maximum" of the transmission's dialog, or "none" when none is up.
QString dialogState()
{
    const QProgressDialog* d = progressDialog();
    if (!d)
        return "none";
    if (d->parent() || d->windowModality() != Qt::ApplicationModal ||
        d->objectName() != "NUBTactile" || d->labelText() != "Sending...")
        return "another dialog";
    return QString("%1/%2").arg(d->value()).arg(d->maximum());
}

} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

    std::unique_ptr<PortSession> sim;
    QApplication* app = qApp;

    // The data-register writes since the claim as "ms:byte", then the end.
    QString edges() const
    {
        QStringList out;
        for (std::size_t i = sim->firstWrite; i < portsim::writes().size(); ++i) {
            const portsim::Write& w = portsim::writes()[i];
            if (w.address == LPT1_BASE)
                out << QString("%1:%2").arg(w.time / MS).arg(w.value);
        }
        return (out << "end" << QString::number(sim->clock.now() / MS)).join(' ');
    }

private slots:
    void init() { sim = std::make_unique<PortSession>(); }
    void cleanup()
    {
        sim.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void shownValue_data()
    {
        QTest::addColumn<quint64>("step");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<int>("expected");
        const quint64 above = quint64(INT_MAX) + 1;
        const quint64 big = quint64(UINT_MAX) * 2 + 1;
        const quint64 biggest = quint64(UINT_MAX) * UINT_MAX + 1;
        QTest::newRow("small total as is") << quint64(3) << quint64(5) << 3;
        QTest::newRow("just above INT_MAX") << above - 1 << above << INT_MAX - 1;
        QTest::newRow("first step shows 1") << quint64(1) << big << 1;
        QTest::newRow("half way") << big / 2 << big << INT_MAX / 2;
        QTest::newRow("last but one below maximum") << big - 1 << big << INT_MAX - 1;
        QTest::newRow("last reaches maximum") << big << big << INT_MAX;
        QTest::newRow("largest total, last but one") << biggest - 1 << biggest << INT_MAX - 1;
    }
    void shownValue()
    {
        QFETCH(quint64, step);
        QFETCH(quint64, total);
        QTEST(ProgressObserver::shownValue(step, total), "expected");
    }

    // A word of `loops` passes, hold and interval 100 ms; Abort clicked at
    // `pressMs` (none when negative); after " | " what the dialog showed at
    // each of `probeMs`.
    void dialog_data()
    {
        QTest::addColumn<quint32>("loops");
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<QList<qint64>>("probeMs");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("expected");
        QTest::newRow("shown, counting, closed at the total")
            << 1u << qint64(-1) << QList<qint64>{50, 150, 350, 999} << 1
            << "0:1 100:0 200:3 300:0 400:9 500:0 600:25 700:0 800:17 900:0 end 1000 | 1/6 2/6 "
               "3/6 none";
        QTest::newRow("a press after the last event slot is not lost at the total")
            << 1u << qint64(799) << QList<qint64>{} << 0
            << "0:1 100:0 200:3 300:0 400:9 500:0 600:25 700:0 800:17 900:0 end 1000 | ";
        QTest::newRow("a total beyond int is scaled")
            << UINT_MAX << qint64(250) << QList<qint64>{50, 250} << 0
            << "0:1 100:0 200:3 300:0 end 400 | 1/2147483647 1/2147483647";
    }
    void dialog()
    {
        QFETCH(quint32, loops);
        QFETCH(qint64, pressMs);
        QFETCH(QList<qint64>, probeMs);
        Braille_Data r;
        QCOMPARE(setWord(r, "abcde"), 1);
        r.mode = MODE_TEXT;
        r.loops = loops;
        r.charTime = r.intervalTime = 100;
        QStringList seen;
        for (qint64 t : probeMs)
            sim->clock.at(t * MS, [&seen] { seen << dialogState(); });
        if (pressMs >= 0)
            sim->clock.at(pressMs * MS, queueAbortClick);
        QFETCH(int, result);
        QCOMPARE(sendToParallelPort(r, app, LPT1_BASE), result);
        QTEST(edges() + " | " + seen.join(' '), "expected");
    }

    // Opening an entry's dialog takes time on a real display; it must be
    // taken from the interval before the entry, not added to it.
    void entrySetUpFallsInTheInterval()
    {
        struct SlowDialogs : QObject {
            VirtualClock* clock;
            bool eventFilter(QObject* object, QEvent* event) override
            {
                if (event->type() == QEvent::Show && qobject_cast<QProgressDialog*>(object))
                    clock->waitUntil(clock->now() + 3 * MS);
                return false;
            }
        } slow;
        slow.clock = &sim->clock;
        qApp->installEventFilter(&slow);
        std::istringstream stream("a 10 20 b 10 0");
        QCOMPARE(sendToParallelPort(stream, app, LPT1_BASE), 1);
        qApp->removeEventFilter(&slow);
        QCOMPARE(edges(), QString("3:1 13:0 33:3 43:0 end 43"));
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
