#include "nubtactile.h"
#include "pins.h"
#include "portio_sim.h"
#include "pport.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <climits>
#include <cstring>
#include <memory>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>

namespace
{

constexpr std::int64_t MS = NS_PER_MS;
const char* const REFUSED_PORT_ARG = "--claim-refused-port";

Braille_Data* makeRecord(Braille_Data& r, int mode, const QByteArray& codes, quint32 loops,
                         quint32 trigger, quint32 pause, quint32 hold, quint32 interval)
{
    r.mode = mode;
    r.length = quint32(codes.size());
    r.word = std::make_unique<std::uint16_t[]>(codes.size());
    for (int i = 0; i < codes.size(); ++i)
        r.word[i] = quint8(codes[i]);
    r.loops = loops;
    r.triggerTime = trigger;
    r.afterTriggerTime = pause;
    r.charTime = hold;
    r.intervalTime = interval;
    return &r;
}

QString timeText(std::int64_t ns)
{
    return ns % MS == 0 ? QString::number(ns / MS) : QStringLiteral("%1ns").arg(ns);
}

QProgressDialog* progressDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("NUBTactile"))
            return qobject_cast<QProgressDialog*>(w);
    }
    return nullptr;
}

// Presses Abort the way a user would: the click waits in the event queue until
// the transmission lets events run.
void queueAbortClick()
{
    QProgressDialog* dialog = progressDialog();
    QVERIFY(dialog);
    auto* button = dialog->findChild<QPushButton*>();
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("Abort"));
    QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

// Serves `data`, then fails the next read with an exception (a device error).
class FailingBuf : public std::streambuf
{
public:
    explicit FailingBuf(std::string data) : data(std::move(data))
    {
        setg(this->data.data(), this->data.data(), this->data.data() + this->data.size());
    }

protected:
    int_type underflow() override { throw std::runtime_error("read error"); }

private:
    std::string data;
};

} // namespace

class TestPport : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<VirtualClock> vc;
    std::size_t firstWrite = 0;
    QApplication* app = qApp;

    // Every data-register write since init() as "ms:byte", space separated.
    QString edges() const
    {
        QStringList out;
        const auto& w = portsim::writes();
        for (std::size_t i = firstWrite; i < w.size(); ++i) {
            if (w[i].address == LPT1_BASE)
                out << QStringLiteral("%1:%2").arg(timeText(w[i].time)).arg(w[i].value);
        }
        return out.join(' ');
    }

private slots:
    void init()
    {
        pin_layer_reset();
        portsim::reset();
        vc = std::make_unique<VirtualClock>();
        initializeParallelPort(LPT1_BASE);
        firstWrite = portsim::writes().size();
    }

    void cleanup()
    {
        vc.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void initializePreparesPort()
    {
        // A port switch: the new port must come up low even if it was left high.
        portsim::setHardware(LPT2_BASE, 0xFF);
        prctl(PR_SET_TIMERSLACK, 50'000UL, 0UL, 0UL, 0UL);
        initializeParallelPort(LPT2_BASE);
        QCOMPARE(lp_base, LPT2_BASE);
        QCOMPARE(lp_output_pins, 0x3F00FF);
        QCOMPARE(portsim::hardware(LPT2_BASE), 0);
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
        vc->at(5 * MS, [&during] { during = sched_getscheduler(0); });
        Braille_Data r;
        makeRecord(r, MODE_TEXT, "a", 1, 0, 0, 10, 10);
        QCOMPARE(sendToParallelPort(r, app, LPT1_BASE), 1);
        QCOMPARE(during, permitted ? SCHED_FIFO : SCHED_OTHER);
        QCOMPARE(sched_getscheduler(0), SCHED_OTHER);
    }

    void refusedPortEndsProcess()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {REFUSED_PORT_ARG});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 1);
        QCOMPARE(child.readAllStandardError(),
                 QByteArray("can't get IO permissions!: Operation not permitted\n"
                            "PARALLEL PORT NOT FOUND\n"));
        QCOMPARE(child.readAllStandardOutput(), QByteArray());
    }

    void timeline_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<quint32>("loops");
        QTest::addColumn<quint32>("trigger");
        QTest::addColumn<quint32>("pause");
        QTest::addColumn<quint32>("hold");
        QTest::addColumn<quint32>("interval");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qint64>("endMs");

        QTest::newRow("two passes with trigger and pause")
            << 1 << QByteArray("ab") << 2u << 100u << 50u << 200u << 300u
            << "0:63 100:0 150:1 350:0 650:3 850:0 1150:1 1350:0 1650:3 1850:0" << qint64(2150);
        QTest::newRow("no trigger, no pause")
            << 1 << QByteArray("a") << 1u << 0u << 0u << 10u << 20u << "0:1 10:0" << qint64(30);
        QTest::newRow("pause without trigger")
            << 1 << QByteArray("a") << 1u << 0u << 40u << 10u << 0u << "40:1 50:0" << qint64(50);
        QTest::newRow("hold 0 waits the intervals only")
            << 1 << QByteArray("ab") << 1u << 5u << 0u << 0u << 30u << "0:63 5:0" << qint64(65);
        QTest::newRow("character without cell keeps its time")
            << 1 << QByteArray("a#b") << 1u << 0u << 0u << 10u << 20u << "0:1 10:0 60:3 70:0"
            << qint64(90);
        QTest::newRow("loops 0: trigger and pause only")
            << 1 << QByteArray("ab") << 0u << 10u << 20u << 5u << 5u << "0:63 10:0" << qint64(30);
        QTest::newRow("length 0: trigger and pause only")
            << 2 << QByteArray() << 3u << 10u << 20u << 5u << 5u << "0:63 10:0" << qint64(30);
        QTest::newRow("random code 200 raised as is")
            << 2 << QByteArray("\xC8") << 1u << 0u << 0u << 7u << 3u << "0:200 7:0" << qint64(10);
        QTest::newRow("non-valid random code 128")
            << 3 << QByteArray("\x80") << 1u << 0u << 0u << 7u << 3u << "0:128 7:0" << qint64(10);
        QTest::newRow("hold of 5000000 ms in full")
            << 1 << QByteArray("a") << 1u << 0u << 0u << 5'000'000u << 0u << "0:1 5000000:0"
            << qint64(5'000'000);
        QTest::newRow("longest times in full")
            << 1 << QByteArray("a") << 1u << 4294967295u << 4294967295u << 1u << 4294967295u
            << "0:63 4294967295:0 8589934590:1 8589934591:0" << qint64(12884901886);
        // Single shot: the pins of the record, not its word.
        QTest::newRow("single shot pins 0 2 7") << 0 << QByteArray("ab") << 2u << 100u << 50u
                                                << 500u << 300u << "0:131 500:0" << qint64(500);
        QTest::newRow("single shot hold 0")
            << 0 << QByteArray() << 0u << 0u << 0u << 0u << 0u << "0:131 0:0" << qint64(0);
    }

    void timeline()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, codes);
        QFETCH(quint32, loops);
        QFETCH(quint32, trigger);
        QFETCH(quint32, pause);
        QFETCH(quint32, hold);
        QFETCH(quint32, interval);
        QFETCH(QString, expected);
        QFETCH(qint64, endMs);

        Braille_Data r;
        makeRecord(r, mode, codes, loops, trigger, pause, hold, interval);
        r.pins[0] = r.pins[2] = r.pins[7] = true;
        QCOMPARE(sendToParallelPort(r, app, LPT1_BASE), 1);
        QCOMPARE(edges(), expected);
        QCOMPARE(vc->now(), endMs * MS);
        // The record is left as it came.
        QCOMPARE(r.length, quint32(codes.size()));
        QCOMPARE(r.loops, loops);
        QCOMPARE(r.charTime, hold);
    }

    void abort_data()
    {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<quint32>("loops");
        QTest::addColumn<quint32>("trigger");
        QTest::addColumn<qint64>("pressMs");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qint64>("endMs");

        // Each cell is held 100 ms and followed by 100 ms.
        QTest::newRow("during the second of five cells")
            << QByteArray("abcde") << 1u << 0u << qint64(250) << "0:1 100:0 200:3 300:0"
            << qint64(400);
        QTest::newRow("during the second interval")
            << QByteArray("abcde") << 1u << 0u << qint64(350) << "0:1 100:0 200:3 300:0"
            << qint64(400);
        QTest::newRow("in the last 2 ms of an interval: seen after the next cell")
            << QByteArray("abcde") << 1u << 0u << qint64(399) << "0:1 100:0 200:3 300:0 400:9 500:0"
            << qint64(600);
        QTest::newRow("during the trigger: seen after the first cell")
            << QByteArray("abcde") << 1u << 50u << qint64(20) << "0:63 50:0 50:1 150:0"
            << qint64(250);
        QTest::newRow("at the end of a pass: no second pass")
            << QByteArray("ab") << 2u << 0u << qint64(250) << "0:1 100:0 200:3 300:0"
            << qint64(400);
        QTest::newRow("scaled progress still checked after every cell")
            << QByteArray("abcde") << 4294967295u << 0u << qint64(250) << "0:1 100:0 200:3 300:0"
            << qint64(400);
    }

    void abort()
    {
        QFETCH(QByteArray, word);
        QFETCH(quint32, loops);
        QFETCH(quint32, trigger);
        QFETCH(qint64, pressMs);
        QFETCH(QString, expected);
        QFETCH(qint64, endMs);

        Braille_Data r;
        makeRecord(r, MODE_TEXT, word, loops, trigger, 0, 100, 100);
        vc->at(pressMs * MS, queueAbortClick);
        QCOMPARE(sendToParallelPort(r, app, LPT1_BASE), 0);
        QCOMPARE(edges(), expected);
        QCOMPARE(vc->now(), endMs * MS);
        QCOMPARE(portsim::hardware(LPT1_BASE), 0);
    }

    void dialog_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<quint32>("loops");
        QTest::addColumn<quint32>("hold");
        QTest::addColumn<QList<qint64>>("probeMs");
        QTest::addColumn<QStringList>("expected");

        // Trigger 100, pause 50, hold `hold`, interval 300 (hold 200: edges as in
        // the two-pass timeline).
        QTest::newRow("two passes of ab")
            << 1 << QByteArray("ab") << 2u << 200u << QList<qint64>{50, 1200, 1700, 2149}
            << QStringList{"1/5", "3/5", "4/5", "hidden"};
        QTest::newRow("hold 0 still advances")
            << 2 << QByteArray("\x01\x02") << 1u << 0u << QList<qint64>{140, 160, 460}
            << QStringList{"1/3", "2/3", "hidden"};
        QTest::newRow("huge total counts in larger units")
            << 1 << QByteArray("ab") << 4294967295u << 10u << QList<qint64>{50, 800}
            << QStringList{"1/2147483647", "1/2147483647"};
        QTest::newRow("single shot")
            << 0 << QByteArray() << 0u << 500u << QList<qint64>{250} << QStringList{"1/2"};
    }

    void dialog()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, word);
        QFETCH(quint32, loops);
        QFETCH(quint32, hold);
        QFETCH(QList<qint64>, probeMs);
        QFETCH(QStringList, expected);

        Braille_Data r;
        makeRecord(r, mode, word, loops, 100, 50, hold, 300);
        QStringList seen;
        for (qint64 t : probeMs) {
            vc->at(t * MS, [&seen] {
                QProgressDialog* d = progressDialog();
                if (!d) {
                    seen << "none";
                    return;
                }
                QCOMPARE(d->parent(), nullptr);
                QCOMPARE(d->windowModality(), Qt::ApplicationModal);
                QCOMPARE(d->labelText(), QStringLiteral("Sending..."));
                QCOMPARE(d->minimumDuration(), 0);
                seen << (d->isVisible() ? QStringLiteral("%1/%2").arg(d->value()).arg(d->maximum())
                                        : QStringLiteral("hidden"));
            });
        }
        // The huge case is stopped after the probes.
        if (loops > 1000)
            vc->at(900 * MS, queueAbortClick);
        sendToParallelPort(r, app, LPT1_BASE);
        QCOMPARE(seen, expected);
    }

    void scaledProgress_data()
    {
        QTest::addColumn<quint64>("step");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<int>("expected");

        const quint64 big = 4294967295ull * 2 + 1;
        const quint64 biggest = 4294967295ull * 4294967295ull + 1;
        QTest::newRow("small total as is") << quint64(3) << quint64(5) << 3;
        QTest::newRow("INT_MAX total as is") << quint64(INT_MAX) << quint64(INT_MAX) << INT_MAX;
        QTest::newRow("start") << quint64(0) << big << 0;
        QTest::newRow("first step shows 1") << quint64(1) << big << 1;
        QTest::newRow("half way") << big / 2 << big << INT_MAX / 2;
        QTest::newRow("last but one below maximum") << big - 1 << big << INT_MAX - 1;
        QTest::newRow("last reaches maximum") << big << big << INT_MAX;
        QTest::newRow("largest total, last but one") << biggest - 1 << biggest << INT_MAX - 1;
        QTest::newRow("largest total, last") << biggest << biggest << INT_MAX;
        QTest::newRow("just above INT_MAX, last but one")
            << quint64(INT_MAX) << quint64(INT_MAX) + 1 << INT_MAX - 1;
    }

    void scaledProgress()
    {
        QFETCH(quint64, step);
        QFETCH(quint64, total);
        QFETCH(int, expected);
        QCOMPARE(::scaledProgress(step, total), expected);
    }

    void fileBody_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qint64>("endMs");

        QTest::newRow("one line") << QByteArray("hola 500 1000\n")
                                  << "0:19 500:0 1500:21 2000:0 3000:7 3500:0 4500:1 5000:0"
                                  << qint64(6000);
        QTest::newRow("several entries on a line, no final line end")
            << QByteArray("a 10 20 b 5 5\tc\r\n1 2") << "0:1 10:0 30:3 35:0 40:9 41:0"
            << qint64(43);
        QTest::newRow("last entry word and duration")
            << QByteArray("a 10 20\nb 5") << "0:1 10:0 30:3 35:0" << qint64(35);
        QTest::newRow("last entry word only")
            << QByteArray("a 10 20\nb\n") << "0:1 10:0" << qint64(30);
        QTest::newRow("empty body") << QByteArray(" \n\t\n") << "" << qint64(0);
        QTest::newRow("x5 duration") << QByteArray("ab x5 7") << "" << qint64(14);
        QTest::newRow("numbers stop at a non-digit")
            << QByteArray("a +5x 7ms") << "0:1 5:0" << qint64(12);
        QTest::newRow("negative times count as 0")
            << QByteArray("a -5 10 b 10 -7") << "10:3 20:0" << qint64(20);
        QTest::newRow("numbers saturate")
            << QByteArray("a 99999999999 0") << "0:1 2147483647:0" << qint64(2147483647);
        QTest::newRow("UTF-8 word") << QByteArray("\xC3\xB1"
                                                  "a 10 0")
                                    << "0:59 10:0 10:1 20:0" << qint64(20);
        QTest::newRow("code page 437 word") << QByteArray("\xA4"
                                                          "a 10 0")
                                            << "0:59 10:0 10:1 20:0" << qint64(20);
        QTest::newRow("NUL inside a word")
            << QByteArray("a\0b 10 0", 8) << "0:1 10:0 10:3 20:0" << qint64(20);
    }

    void fileBody()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(qint64, endMs);

        std::istringstream stream(body.toStdString());
        QCOMPARE(sendToParallelPort(stream, app, LPT1_BASE), 1);
        QCOMPARE(edges(), expected);
        QCOMPARE(vc->now(), endMs * MS);
    }

    void fileAbortStopsTheRest()
    {
        std::istringstream stream("ab 100 100 cd 100 100\ne 100 100\n");
        vc->at(150 * MS, queueAbortClick);
        QCOMPARE(sendToParallelPort(stream, app, LPT1_BASE), 0);
        QCOMPARE(edges(), QStringLiteral("0:1 100:0"));
        QCOMPARE(vc->now(), 200 * MS);
    }

    void fileReadError_data()
    {
        QTest::addColumn<QByteArray>("served");
        QTest::addColumn<QString>("expected");

        QTest::newRow("between entries") << QByteArray("a 10 0 b 10 0 ") << "0:1 10:0 10:3 20:0";
        QTest::newRow("inside a number: entry not sent") << QByteArray("a 10 0 b 1") << "0:1 10:0";
        QTest::newRow("at once") << QByteArray() << "";
    }

    void fileReadError()
    {
        QFETCH(QByteArray, served);
        QFETCH(QString, expected);

        FailingBuf buf(served.toStdString());
        std::istream stream(&buf);
        QCOMPARE(sendToParallelPort(stream, app, LPT1_BASE), 0);
        QVERIFY(stream.bad());
        QCOMPARE(edges(), expected);
    }
};

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], REFUSED_PORT_ARG) == 0) {
        portsim::refuseClaims();
        initializeParallelPort(LPT1_BASE);
        return 2;
    }
    QApplication app(argc, argv);
    TestPport test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pport.moc"
