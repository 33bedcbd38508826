#include "nubtactile.h"
#include "pins.h"
#include "port_session.h"
#include "portio_sim.h"
#include "pport.h"
#include "termination.h"
#include "time_audit.h"
#include "virtual_clock.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
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

QString timeText(std::int64_t ns)
{
    return ns % MS ? QString("%1ns").arg(ns) : QString::number(ns / MS);
}

// Stands in for the progress dialog and its operator: notes each progress
// step with its time, and sees a press of Abort made at `pressMs` only when
// events run, as a real dialog does.
struct Operator : TransmissionObserver {
    explicit Operator(qint64 pressMs) : press(pressMs * MS) {}
    void recordStarted(std::uint64_t steps) override { total = steps; }
    void progressed(std::uint64_t done) override
    {
        steps << QString("%1/%2@%3").arg(done).arg(total).arg(timeText(currentClock().now()));
        eventSlot();
    }
    void eventSlot() override { seen = seen || (press >= 0 && currentClock().now() >= press); }
    bool abortRequested() override { return seen; }

    std::int64_t press;
    std::uint64_t total = 0;
    bool seen = false;
    QStringList steps;
};

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

    void cleanup() { sim.reset(); }

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
        TransmissionObserver quiet;
        QCOMPARE(sendToParallelPort(r, quiet), 1);
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

    // Abort is pressed at `pressMs` when it is not negative; after " | " come
    // the progress steps with their times.
    void timeline_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<Times>("times");
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, int mode, const char* codes, const Times& t,
                            qint64 press, const char* expected) {
            QTest::newRow(name) << mode << QByteArray(codes) << t << press << QString(expected);
        };
        row("two passes with trigger and pause", 1, "ab", {2, 100, 50, 200, 300}, -1,
            "0:63 100:0 150:1 350:0 650:3 850:0 1150:1 1350:0 1650:3 1850:0 end 2150 | 1/5@0 "
            "2/5@350 3/5@850 4/5@1350 5/5@1850");
        row("pause without trigger", 1, "a", {1, 0, 40, 10, 0}, -1,
            "40:1 50:0 end 50 | 1/2@0 2/2@50");
        row("hold 0: intervals only, progress still advances", 1, "ab", {1, 5, 0, 0, 30}, -1,
            "0:63 5:0 end 65 | 1/3@0 2/3@5 3/3@35");
        row("a code without a cell keeps its place", 1, "#b", {1, 0, 0, 10, 5}, -1,
            "15:3 25:0 end 30 | 1/3@0 2/3@10 3/3@25");
        row("loops 0: trigger and pause only", 1, "ab", {0, 10, 20, 5, 5}, -1,
            "0:63 10:0 end 30 | 1/1@0");
        row("length 0: trigger and pause only", 2, "", {3, 10, 20, 5, 5}, -1,
            "0:63 10:0 end 30 | 1/1@0");
        row("no trigger, no pause; random code 200 raised as is", 2, "\xC8", {1, 0, 0, 7, 3}, -1,
            "0:200 7:0 end 10 | 1/2@0 2/2@7");
        row("longest times in full", 1, "a", {1, UINT_MAX, UINT_MAX, 1, UINT_MAX}, -1,
            "0:63 4294967295:0 8589934590:1 8589934591:0 end 12884901886 | 1/2@0 2/2@8589934591");
        row("single shot: pins 0 2 7, not the word", 0, "ab", {2, 100, 50, 500, 300}, -1,
            "0:131 500:0 end 500 | 1/2@0 2/2@500");
        row("single shot hold 0", 0, "", {0, 0, 0, 0, 0}, -1, "0:131 0:0 end 0 | 1/2@0 2/2@0");
        // Abort ends the transmission after the cell and interval it falls in.
        const Times cells{1, 0, 0, 100, 100};
        const char* const twoCells = "0:1 100:0 200:3 300:0 end 400 | 1/6@0 2/6@100 3/6@300";
        row("abort in the second cell", 1, "abcde", cells, 250, twoCells);
        row("abort in the second interval", 1, "abcde", cells, 350, twoCells);
        row("abort after the interval's event slot: one cell more", 1, "abcde", cells, 399,
            "0:1 100:0 200:3 300:0 400:9 500:0 end 600 | 1/6@0 2/6@100 3/6@300 4/6@500");
        row("abort late in the interval before the last cell", 1, "abcde", cells, 799,
            "0:1 100:0 200:3 300:0 400:9 500:0 600:25 700:0 800:17 900:0 end 1000 | 1/6@0 "
            "2/6@100 3/6@300 4/6@500 5/6@700 6/6@900");
        row("abort at the end of a pass", 1, "ab", {2, 0, 0, 100, 100}, 250,
            "0:1 100:0 200:3 300:0 end 400 | 1/5@0 2/5@100 3/5@300");
        row("abort in the trigger: after the first cell", 1, "abc", {1, 50, 0, 100, 100}, 20,
            "0:63 50:0 50:1 150:0 end 250 | 1/4@0 2/4@150");
    }
    void timeline()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, codes);
        QFETCH(Times, times);
        QFETCH(qint64, pressMs);
        Braille_Data r;
        fill(r, mode, codes, times);
        Operator op(pressMs);
        QCOMPARE(sendToParallelPort(r, op), pressMs < 0 ? 1 : 0);
        QTEST(outcome() + " | " + op.steps.join(' '), "expected");
        QCOMPARE(portsim::hardware(LPT1_BASE), 0);
        QCOMPARE(Times({r.loops, r.length, r.charTime}),
                 Times({times[0], quint32(codes.size()), times[3]}));
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
        Operator op(pressMs);
        QCOMPARE(sendToParallelPort(stream, op), readError || pressMs >= 0 ? 0 : 1);
        QTEST(outcome(), "expected");
    }

    // The whole audit of one transmission: its rows, then the summary. The
    // virtual clock wakes up `lateMs` late from the wait that ends at `lateAt`
    // ms, when `lateMs` is not 0. Mode -1 plays `codes` as a text file body.
    void timeAudit_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<Times>("times");
        QTest::addColumn<Times>("late"); // at ms, by µs
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two passes, trigger, a wake-up 2.5 ms late at the second onset")
            << 1 << QByteArray("ab") << Times{2, 10, 5, 20, 30} << Times{65, 2500} << qint64(-1)
            << "S,m,0,0,,63,0.000,0.000,0.000,10.000,10.000,0.000\n"
               "S,m,1,1,97,1,15.000,15.000,0.000,20.000,20.000,0.000\n"
               "S,m,1,2,98,3,65.000,67.500,2.500,20.000,20.000,0.000\n"
               "S,m,2,1,97,1,117.500,117.500,0.000,20.000,20.000,0.000\n"
               "S,m,2,2,98,3,167.500,167.500,0.000,20.000,20.000,0.000\n"
               "5 cells · worst onset delay 2.5 ms · worst hold error 0 µs · 1 cell off by "
               "more than 1 ms";
        QTest::newRow("a hold 12 µs long; a cell without a cell has no row")
            << 1 << QByteArray("#a") << Times{1, 0, 0, 5, 5} << Times{15, 12} << qint64(-1)
            << "S,m,1,2,97,1,10.000,10.000,0.000,5.000,5.012,0.012\n"
               "1 cell · worst onset delay 0 µs · worst hold error 12 µs";
        QTest::newRow("aborted: rows up to the last cell presented")
            << 1 << QByteArray("abc") << Times{1, 0, 0, 10, 10} << Times{0, 0} << qint64(25)
            << "S,m,1,1,97,1,0.000,0.000,0.000,10.000,10.000,0.000\n"
               "S,m,1,2,98,3,20.000,20.000,0.000,10.000,10.000,0.000\n"
               "2 cells · worst onset delay 0 µs · worst hold error 0 µs";
        QTest::newRow("single shot")
            << 0 << QByteArray() << Times{1, 0, 0, 500, 0} << Times{0, 0} << qint64(-1)
            << "S,m,1,1,,131,0.000,0.000,0.000,500.000,500.000,0.000\n"
               "1 cell · worst onset delay 0 µs · worst hold error 0 µs";
        QTest::newRow("hold 0: nothing raised, no row")
            << 1 << QByteArray("ab") << Times{1, 0, 0, 0, 5} << Times{0, 0} << qint64(-1)
            << "0 cells · worst onset delay 0 µs · worst hold error 0 µs";
        QTest::newRow("text file of two entries: an entry is a pass")
            << -1 << QByteArray("ab 10 5\nc 20 0\n") << Times{} << Times{0, 0} << qint64(-1)
            << "S,m,1,1,97,1,0.000,0.000,0.000,10.000,10.000,0.000\n"
               "S,m,1,2,98,3,15.000,15.000,0.000,10.000,10.000,0.000\n"
               "S,m,2,1,99,9,30.000,30.000,0.000,20.000,20.000,0.000\n"
               "3 cells · worst onset delay 0 µs · worst hold error 0 µs";
    }
    void timeAudit()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, codes);
        QFETCH(Times, times);
        QFETCH(Times, late);
        QFETCH(qint64, pressMs);
        if (late[1] != 0)
            sim->clock.at(late[0] * MS, [this, by = late[1]] {
                sim->clock.waitUntil(sim->clock.now() + by * 1000);
            });
        std::ostringstream rows;
        TimeAudit audit(&rows, "S", "m");
        struct Both : Operator {
            Both(qint64 press, TimeAudit& audit) : Operator(press), audit(audit) {}
            void cellPresented(const CellTiming& cell) override { audit.cellPresented(cell); }
            TimeAudit& audit;
        } op(pressMs, audit);
        if (mode < 0) {
            std::istringstream body(codes.toStdString());
            sendToParallelPort(body, op);
        } else {
            Braille_Data r;
            fill(r, mode, codes, times);
            sendToParallelPort(r, op);
        }
        QVERIFY(audit.finish());
        QTEST(QString::fromStdString(rows.str() + audit.summary().text()), "expected");
    }

    // The file is created with one header; later sends append rows only.
    void timeAuditFile()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("a.timing.csv").toStdString();
        for (int send = 0; send < 2; ++send) {
            std::ofstream file;
            QVERIFY(TimeAudit::open(file, path));
            TimeAudit audit(&file, "S", "m");
            audit.cellPresented({1, 1, 97, 1, 0, 1000, 2'000'000, 1'999'499});
            QVERIFY(audit.finish());
        }
        std::ifstream in(path);
        const std::string row = "S,m,1,1,97,1,0.000,0.001,0.001,2.000,1.999,-0.001\n";
        QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}),
                 TimeAudit::HEADER + row + row);
        std::ofstream full;
        QVERIFY(TimeAudit::open(full, "/dev/full") == false);
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
    QCoreApplication app(argc, argv);
    TestPport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pport.moc"
