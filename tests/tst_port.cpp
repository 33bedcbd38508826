#include "failing_allocation.h"
#include "nubtactile.h"
#include "output_capture.h"
#include "port_session.h"
#include "progress_observer.h"
#include "time_audit.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <sched.h>
#include <sstream>

// Transmissions on the simulated port and the virtual clock, under the
// progress dialog: their edges, abort and time audit; and the simulated
// port's own trace.

constexpr std::int64_t MS = NS_PER_MS;
constexpr std::int64_t SETUP = 3 * MS; // a progress dialog's, as on a display
using Times = QList<quint32>;

class TestPort : public QObject
{
    Q_OBJECT

    std::unique_ptr<PortSession> sim;

    // Runs `action` at `ms` after the first record's set-up.
    void at(qint64 ms, std::function<void()> action) { sim->clock.at(ms * MS + SETUP, action); }

    // Every data-register write since the claim as "ms:byte", then "end" and
    // when the clock stopped; in ms after the first record's set-up.
    QString edges() const
    {
        const auto ms = [](std::int64_t t) { return QString::number((t - SETUP) / 1e6, 'g', 15); };
        QStringList out;
        for (auto w = portsim::writes().begin() + sim->firstWrite; w != portsim::writes().end();
             ++w)
            if (w->address == LPT1_BASE)
                out << ms(w->time) + ':' + QString::number(w->value);
        return (out << "end" << ms(sim->clock.now())).join(' ');
    }

    // Sends "<mode> <codes> <loops>,<trigger>,<pause>,<hold>,<interval>" as a
    // record (a single shot raises pins 0, 2 and 7), or "file:<body>" as a text
    // file; "file@<ms>:<body>" fails to read from that time on, and
    // "file!<bytes>:<body>" has no memory for the first codes of that size.
    int transmit(const QByteArray& input, TransmissionObserver& observer)
    {
        if (input.startsWith("file")) {
            std::istringstream body(input.mid(input.indexOf(':') + 1).toStdString());
            const int number = input.mid(5, input.indexOf(':') - 5).toInt();
            if (input[4] == '@')
                at(number, [&body] { body.setstate(std::ios::badbit); });
            failingAllocationSize = input[4] == '!' ? number : 0;
            return sendToParallelPort(body, observer);
        }
        const QList<QByteArray> part = input.split(' ');
        Braille_Data r;
        r.mode = part[0].toInt();
        r.length = quint32(part[1].size());
        r.word = std::make_unique<std::uint16_t[]>(r.length);
        for (quint32 i = 0; i < r.length; ++i)
            r.word[i] = quint8(part[1][i]);
        std::uint32_t* const times[] = {&r.loops, &r.triggerTime, &r.afterTriggerTime, &r.charTime,
                                        &r.intervalTime};
        for (int i = 0; i < 5; ++i)
            *times[i] = part[2].split(',')[i].toUInt();
        r.pins[0] = r.pins[2] = r.pins[7] = true;
        return sendToParallelPort(r, observer);
    }

private slots:
    void init() { sim = std::make_unique<PortSession>(); }
    void cleanup()
    {
        portsim::beforeWrite({});
        sim.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // The trace tells each change of the data lines, with the seconds since
    // the process started.
    void trace()
    {
        VirtualClock clock(RealClock().now());
        portsim::traceDataLines();
        const QByteArray lines = capturedOutput(stderr, [&] {
            set_pin(0x40013); // a control pin too, which is no data line
            clock.waitUntil(clock.now() + 250 * MS);
            resetParallelPort(LPT1_BASE);
        });
        QCOMPARE(lines.mid(12, 12) + lines.mid(36), QByteArray("  \u2813  0x13\n  \u2800  0x00\n"));
        QCOMPARE(qRound64((lines.mid(24, 12).toDouble() - lines.left(12).toDouble()) * 1e6),
                 250000);
    }

    // The lowest FIFO priority while sending, when the system permits it.
    void realTimeOnlyWhileSending()
    {
        const sched_param fifo{sched_get_priority_min(SCHED_FIFO)}, normal{0};
        const bool permitted = sched_setscheduler(0, SCHED_FIFO, &fifo) == 0;
        QCOMPARE(sched_setscheduler(0, SCHED_OTHER, &normal), 0);
        int during = -1;
        sim->clock.at(5 * MS, [&during] { during = sched_getscheduler(0); });
        TransmissionObserver quiet;
        QCOMPARE(transmit("1 a 1,0,0,10,10", quiet), 1);
        QCOMPARE(QList<int>({during, sched_getscheduler(0)}),
                 QList<int>({permitted ? SCHED_FIFO : SCHED_OTHER, SCHED_OTHER}));
    }

    // The edges; after " | " what the dialog showed at each of `probeMs`; after
    // a line end the time audit's rows and summary, for the rows that give
    // them. Abort is clicked at `pressMs` unless it is negative; the clock
    // wakes up `late` (at ms, by µs) late once, and jumps `slow` (before the
    // n-th data write from 1, by µs) between an edge's reading and its write.
    void transmission_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<Times>("late");
        QTest::addColumn<Times>("probeMs");
        QTest::addColumn<Times>("slow");
        const auto row = [](const char* name, const QByteArray& input, const char* expected,
                            qint64 press = -1, const Times& late = {0, 0}, const Times& probes = {},
                            const Times& slow = {0, 0}) {
            QTest::newRow(name) << input << QString(expected) << press << late << probes << slow;
        };
        row("two passes with trigger and pause; a wake-up 2.5 ms late", "1 ab 2,10,5,20,30",
            "0:63 10:0 15:1 35:0 67.5:3 87.5:0 117.5:1 137.5:0 167.5:3 187.5:0 end 217.5 | 1/5 "
            "2/5 none\n"
            "S,m,0,0,,63,0.000,0.000,0.000,10.000,10.000,0.000,0.000,P\n"
            "S,m,1,1,97,1,15.000,15.000,0.000,20.000,20.000,0.000,0.000,P\n"
            "S,m,1,2,98,3,65.000,67.500,2.500,20.000,20.000,0.000,0.000,P\n"
            "S,m,2,1,97,1,117.500,117.500,0.000,20.000,20.000,0.000,0.000,P\n"
            "S,m,2,2,98,3,167.500,167.500,0.000,20.000,20.000,0.000,0.000,P\n"
            "5 cells · worst onset delay 2.5 ms · worst hold error 0 µs · 1 cell off by more "
            "than 1 ms",
            -1, {65, 2500}, {20, 50, 200});
        row("a code without a cell keeps its place; a hold 12 µs long", "1 #b 1,0,0,10,5",
            "15:3 25.012:0 end 30.012\n"
            "S,m,1,2,98,3,15.000,15.000,0.000,10.000,10.012,0.012,0.000,P\n"
            "1 cell · worst onset delay 0 µs · worst hold error 12 µs",
            -1, {25, 12});
        // An edge is only known to lie within its bracket: a cell counts as
        // within 1 ms only when its error and the bracket together are.
        row("a hold 0.5 ms long, its raising bracket 0.6 ms wide: off", "1 a 1,0,0,10,5",
            "0.6:1 10.5:0 end 15.5\n"
            "S,m,1,1,97,1,0.000,0.000,0.000,10.000,10.500,0.500,0.600,P\n"
            "1 cell · worst onset delay 0 µs · worst hold error 500 µs · 1 cell off by more than 1 "
            "ms",
            -1, {10, 500}, {}, {1, 600});
        row("a hold 0.4 ms long, its lowering bracket 0.6 ms wide: within", "1 a 1,0,0,10,5",
            "0:1 11:0 end 15.4\n"
            "S,m,1,1,97,1,0.000,0.000,0.000,10.000,10.400,0.400,0.600,P\n"
            "1 cell · worst onset delay 0 µs · worst hold error 400 µs",
            -1, {10, 400}, {}, {2, 600});
        row("no trigger, no pause; random code 200 raised as is", "2 \xC8 1,0,0,7,3",
            "0:200 7:0 end 10");
        row("longest times in full", "1 a 1,4294967295,4294967295,1,4294967295",
            "0:63 4294967295:0 8589934590:1 8589934591:0 end 12884901886");
        row("single shot: pins 0 2 7, not the word", "0 ab 2,100,50,500,300",
            "0:131 500:0 end 500 | 1/2", -1, {0, 0}, {250});
        // The dialog counts the cells; Abort ends the transmission after the
        // cell and interval it falls in.
        const char* const cells = "1 abcde 1,0,0,100,100";
        row("a press after the last event slot is not lost at the total", cells,
            "0:1 100:0 200:3 300:0 400:9 500:0 600:25 700:0 800:17 900:0 end 1000", 799);
        row("abort in the second interval", cells, "0:1 100:0 200:3 300:0 end 400", 350);
        row("abort after the interval's event slot: one cell more", cells,
            "0:1 100:0 200:3 300:0 400:9 500:0 end 600", 399);
        row("a total beyond int is scaled", "1 abcde 4294967295,0,0,100,100",
            "0:1 100:0 200:3 300:0 end 400 | 1/2147483647 1/2147483647", 250, {0, 0}, {50, 250});
        // Text files: each entry a record of its own on the one timeline, set
        // up in the interval before it (lengthened when shorter than that).
        row("several entries on a line, no final line end", "file:a 10 20 b 5 5\tc\r\n1 2",
            "0:1 10:0 30:3 35:0 40:9 41:0 end 43");
        row("last entry word and duration", "file:a 10 20\nb 5",
            "0:1 10:0 30:3 35:0 end 35\n"
            "S,m,1,1,97,1,0.000,0.000,0.000,10.000,10.000,0.000,0.000,P\n"
            "S,m,2,1,98,3,30.000,30.000,0.000,5.000,5.000,0.000,0.000,P\n"
            "2 cells · worst onset delay 0 µs · worst hold error 0 µs");
        row("last entry word only", "file:a 10 20\nb\n", "0:1 10:0 end 30");
        row("numbers as strtol: negative 0, saturated, no digits 0",
            "file:a -5 10 b +10x -7 c 99999999999 x5",
            "10:3 20:0 23:9 2147483670:0 end 2147483670");
        row("words in UTF-8, in code page 437, with a NUL",
            QByteArray("file:ña 10 0 a\xA4 10 0 a\0b 10 0", 31),
            "0:59 10:0 10:1 20:0 23:1 33:0 33:59 43:0 46:1 56:0 56:3 66:0 end 66");
        row("abort in the last cell of an entry", "file:ab 100 100 cd 100 100",
            "0:1 100:0 200:3 300:0 end 400", 250);
        row("read error: the entry being read is not sent", "file@5:a 10 0 b 10 0",
            "0:1 10:0 end 10");
        row("an entry without memory for its codes ends the file", "file!6:a 10 0 abc 10 0 b 10 0",
            "0:1 10:0 end 10");
    }
    void transmission()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        QFETCH(qint64, pressMs);
        QFETCH(Times, late);
        QFETCH(Times, probeMs);
        QFETCH(Times, slow);
        portsim::beforeWrite([this, slow, count = 0u](unsigned address, std::uint8_t) mutable {
            if (address == LPT1_BASE && ++count == slow[0])
                sim->clock.waitUntil(sim->clock.now() + slow[1] * 1000);
        });
        at(late[0], [this, by = late[1]] { sim->clock.waitUntil(sim->clock.now() + by * 1000); });
        if (pressMs >= 0) // as a user would: the click waits until events run
            at(pressMs, [] {
                auto* abort = QApplication::activeModalWidget()->findChild<QPushButton*>();
                QMetaObject::invokeMethod(abort, &QPushButton::click, Qt::QueuedConnection);
            });
        QStringList seen;
        for (quint32 t : probeMs) // "value/maximum" of the dialog up then, if any
            at(t, [&seen] {
                const auto* d = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
                seen << (d ? QString("%1/%2").arg(d->value()).arg(d->maximum()) : "none");
            });
        QTemporaryDir dir;
        const QString path = dir.filePath("t.csv");
        TimingFile file;
        std::string setAside;
        QVERIFY(file.open(path.toStdString(), setAside));
        TimeAudit audit(&file, "S", "m", "P");
        struct SlowDialog : ProgressObserver {
            using ProgressObserver::ProgressObserver;
            void recordStarted(std::uint64_t total) override
            {
                ProgressObserver::recordStarted(total);
                currentClock().waitUntil(currentClock().now() + SETUP);
            }
        } observer(&audit);
        const int result = transmit(input, observer);
        QString actual = edges() + (seen.isEmpty() ? "" : " | " + seen.join(' '));
        QVERIFY(audit.finish());
        QFile rows(path);
        QVERIFY(rows.open(QIODevice::ReadOnly));
        if (expected.contains('\n'))
            actual += '\n' + QString::fromUtf8(rows.readAll().mid(qstrlen(TimeAudit::HEADER))) +
                      QString::fromStdString(audit.summary().text());
        QCOMPARE(actual, expected);
        const bool cut = input.startsWith("file@") || input.startsWith("file!");
        QCOMPARE(result, pressMs < 0 && !cut ? 1 : 0);
        QCOMPARE(portsim::hardware(LPT1_BASE), 0);
    }
};

QTEST_MAIN(TestPort)
#include "tst_port.moc"
