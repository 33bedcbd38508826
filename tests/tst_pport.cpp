#include "nubtactile.h"
#include "pins.h"
#include "port_session.h"
#include "portio_sim.h"
#include "pport.h"
#include "termination.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>

namespace
{

constexpr std::int64_t MS = NS_PER_MS;
const char* const TERMINATED_ARG = "--terminated-while-raised";
using Times = QList<quint32>; // loops, trigger, pause, hold, interval

void fill(Braille_Data& r, int mode, const QByteArray& codes, const Times& t)
{
    r.mode = mode;
    r.length = quint32(codes.size());
    r.word = std::make_unique<std::uint16_t[]>(codes.size());
    for (int i = 0; i < codes.size(); ++i)
        r.word[i] = quint8(codes[i]);
    r.loops = t[0];
    r.triggerTime = t[1];
    r.afterTriggerTime = t[2];
    r.charTime = t[3];
    r.intervalTime = t[4];
    r.pins[0] = r.pins[2] = r.pins[7] = true;
}

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

QString timeText(std::int64_t ns)
{
    return ns % MS ? QString("%1ns").arg(ns) : QString::number(ns / MS);
}

// Serves `data`, then ends or, with `fail`, fails the next read (a device error).
struct ServedBuf : std::stringbuf {
    ServedBuf(const std::string& data, bool fail) : std::stringbuf(data, std::ios::in), fail(fail)
    {
    }
    int_type underflow() override
    {
        const int_type c = std::stringbuf::underflow();
        if (fail && c == traits_type::eof())
            throw std::runtime_error("read error");
        return c;
    }
    bool fail;
};

} // namespace

class TestPport : public QObject
{
    Q_OBJECT

    std::unique_ptr<PortSession> sim;
    QApplication* app = qApp;

    // Every data-register write since init() as "ms:byte" (ns when not whole
    // ms), then the time when the transmission returned.
    QString outcome() const
    {
        QStringList out;
        for (std::size_t i = sim->firstWrite; i < portsim::writes().size(); ++i) {
            const portsim::Write& w = portsim::writes()[i];
            if (w.address == LPT1_BASE)
                out << timeText(w.time) + ':' + QString::number(w.value);
        }
        return (out << "end" << timeText(sim->clock.now())).join(' ');
    }

private slots:
    void init() { sim = std::make_unique<PortSession>(); }

    void cleanup()
    {
        sim.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void initializeLowersANewPort()
    {
        portsim::setHardware(LPT2_BASE, 0xFF);
        prctl(PR_SET_TIMERSLACK, 50'000UL, 0UL, 0UL, 0UL);
        QVERIFY(!initializeParallelPort(LPT2_BASE));
        QCOMPARE(portsim::hardware(LPT2_BASE), 0);
        QCOMPARE(lp_output_pins, 0x3F00FF);
        QCOMPARE(prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 1);
        set_pin(0x2A);
        resetParallelPort(LPT2_BASE);
        QCOMPARE(portsim::hardware(LPT2_BASE), 0);
    }

    void realTimeOnlyWhileSending()
    {
        sched_param fifo{};
        fifo.sched_priority = sched_get_priority_min(SCHED_FIFO);
        const sched_param normal{};
        const bool permitted = sched_setscheduler(0, SCHED_FIFO, &fifo) == 0;
        QCOMPARE(sched_setscheduler(0, SCHED_OTHER, &normal), 0);
        int during = -1;
        sim->clock.at(5 * MS, [&during] { during = sched_getscheduler(0); });
        Braille_Data r;
        fill(r, MODE_TEXT, "a", {1, 0, 0, 10, 10});
        QCOMPARE(sendToParallelPort(r, app, LPT1_BASE), 1);
        QCOMPARE(during, permitted ? SCHED_FIFO : SCHED_OTHER);
        QCOMPARE(sched_getscheduler(0), SCHED_OTHER);
    }

    void terminationLowersLines()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {TERMINATED_ARG});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QList<QByteArray> lines = child.readAllStandardError().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("0x3f"));
        QVERIFY(lines[1].endsWith("0x00"));
    }

    // Abort is pressed at `pressMs` when it is not negative; after " | " comes
    // what the progress dialog showed at each of `probeMs`.
    void timeline_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<Times>("times");
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<QList<qint64>>("probeMs");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, int mode, const char* codes, const Times& t,
                            qint64 press, const char* expected, const QList<qint64>& probes = {}) {
            QTest::newRow(name) << mode << QByteArray(codes) << t << press << probes
                                << QString(expected);
        };
        row("two passes with trigger and pause", 1, "ab", {2, 100, 50, 200, 300}, -1,
            "0:63 100:0 150:1 350:0 650:3 850:0 1150:1 1350:0 1650:3 1850:0 end 2150 | 1/5 3/5 "
            "4/5 none",
            {50, 1200, 1700, 2149});
        row("pause without trigger", 1, "a", {1, 0, 40, 10, 0}, -1, "40:1 50:0 end 50");
        row("hold 0: intervals only, progress still advances", 1, "ab", {1, 5, 0, 0, 30}, -1,
            "0:63 5:0 end 65 | 1/3 2/3 none", {4, 34, 64});
        row("loops 0: trigger and pause only", 1, "ab", {0, 10, 20, 5, 5}, -1, "0:63 10:0 end 30");
        row("length 0: trigger and pause only", 2, "", {3, 10, 20, 5, 5}, -1, "0:63 10:0 end 30");
        row("no trigger, no pause; random code 200 raised as is", 2, "\xC8", {1, 0, 0, 7, 3}, -1,
            "0:200 7:0 end 10");
        row("longest times in full", 1, "a", {1, UINT_MAX, UINT_MAX, 1, UINT_MAX}, -1,
            "0:63 4294967295:0 8589934590:1 8589934591:0 end 12884901886");
        row("single shot: pins 0 2 7, not the word", 0, "ab", {2, 100, 50, 500, 300}, -1,
            "0:131 500:0 end 500 | 1/2", {250});
        row("single shot hold 0", 0, "", {0, 0, 0, 0, 0}, -1, "0:131 0:0 end 0");
        // Abort ends the transmission after the cell and interval it falls in.
        const Times cells{1, 0, 0, 100, 100};
        const char* const twoCells = "0:1 100:0 200:3 300:0 end 400";
        row("abort in the second cell", 1, "abcde", cells, 250, twoCells);
        row("abort in the second interval", 1, "abcde", cells, 350, twoCells);
        row("abort at the end of a pass", 1, "ab", {2, 0, 0, 100, 100}, 250, twoCells);
        row("abort with a scaled progress", 1, "abcde", {UINT_MAX, 0, 0, 100, 100}, 250,
            "0:1 100:0 200:3 300:0 end 400 | 1/2147483647 1/2147483647", {50, 250});
        row("abort in the trigger: after the first cell", 1, "abc", {1, 50, 0, 100, 100}, 20,
            "0:63 50:0 50:1 150:0 end 250");
    }
    void timeline()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, codes);
        QFETCH(Times, times);
        QFETCH(qint64, pressMs);
        QFETCH(QList<qint64>, probeMs);
        Braille_Data r;
        fill(r, mode, codes, times);
        QStringList seen;
        for (qint64 t : probeMs)
            sim->clock.at(t * MS, [&seen] { seen << dialogState(); });
        if (pressMs >= 0)
            sim->clock.at(pressMs * MS, queueAbortClick);
        QCOMPARE(sendToParallelPort(r, app, LPT1_BASE), pressMs < 0 ? 1 : 0);
        QTEST(outcome() + (seen.isEmpty() ? "" : " | " + seen.join(' ')), "expected");
        QCOMPARE(portsim::hardware(LPT1_BASE), 0);
        QCOMPARE(Times({r.loops, r.length, r.charTime}),
                 Times({times[0], quint32(codes.size()), times[3]}));
    }

    void scaledProgress_data()
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
    void scaledProgress()
    {
        QFETCH(quint64, step);
        QFETCH(quint64, total);
        QTEST(::scaledProgress(step, total), "expected");
    }

    // The body is served in full, then the stream ends or fails to read.
    void fileBody_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("readError");
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& body, bool readError, qint64 press,
                            const char* expected) {
            QTest::newRow(name) << body << readError << press << QString(expected);
        };
        row("several entries on a line, no final line end", "a 10 20 b 5 5\tc\r\n1 2", false, -1,
            "0:1 10:0 30:3 35:0 40:9 41:0 end 43");
        row("last entry word and duration", "a 10 20\nb 5", false, -1, "0:1 10:0 30:3 35:0 end 35");
        row("last entry word only", "a 10 20\nb\n", false, -1, "0:1 10:0 end 30");
        row("x5 duration", "ab x5 7", false, -1, "end 14");
        row("numbers as strtol, negative as 0", "a -5 10 b +10x -7", false, -1, "10:3 20:0 end 20");
        row("numbers saturate", "a 99999999999 0", false, -1, "0:1 2147483647:0 end 2147483647");
        row("UTF-8 word", "ña 10 0", false, -1, "0:59 10:0 10:1 20:0 end 20");
        row("code page 437 word", "a\xA4 10 0", false, -1, "0:1 10:0 10:59 20:0 end 20");
        row("NUL inside a word", QByteArray("a\0b 10 0", 8), false, -1,
            "0:1 10:0 10:3 20:0 end 20");
        row("abort in the first of three entries", "ab 100 100 cd 100 100\ne 100 100\n", false, 150,
            "0:1 100:0 end 200");
        row("abort in the last cell of an entry", "ab 100 100 cd 100 100", false, 250,
            "0:1 100:0 200:3 300:0 end 400");
        row("read error between entries", "a 10 0 b 10 0 ", true, -1, "0:1 10:0 10:3 20:0 end 20");
        row("read error inside a number: entry not sent", "a 10 0 b 1", true, -1,
            "0:1 10:0 end 10");
    }
    void fileBody()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, readError);
        QFETCH(qint64, pressMs);
        ServedBuf buf(body.toStdString(), readError);
        std::istream stream(&buf);
        if (pressMs >= 0)
            sim->clock.at(pressMs * MS, queueAbortClick);
        QCOMPARE(sendToParallelPort(stream, app, LPT1_BASE), readError || pressMs >= 0 ? 0 : 1);
        QTEST(outcome(), "expected");
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
        ServedBuf buf("a 10 20 b 10 0", false);
        std::istream stream(&buf);
        QCOMPARE(sendToParallelPort(stream, app, LPT1_BASE), 1);
        qApp->removeEventFilter(&slow);
        QCOMPARE(outcome(), QString("3:1 13:0 33:3 43:0 end 43"));
    }
};

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], TERMINATED_ARG) == 0) {
        if (initializeParallelPort(LPT1_BASE))
            return 2;
        lowerDataLinesOnTermination();
        portsim::traceDataLines();
        set_pin(0x3F);
        std::raise(SIGTERM);
        return 2;
    }
    QApplication app(argc, argv);
    TestPport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pport.moc"
