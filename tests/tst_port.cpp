#include "entry_queue.h"
#include "failing_allocation.h"
#include "interrupt.h"
#include "nubtactile.h"
#include "output_capture.h"
#include "port_session.h"
#include "send_progress.h"
#include "simulated_lab.h"
#include "synchronisation.h"
#include "time_audit.h"
#include "transmission_thread.h"
#include "window_text.h"
#include "word_list.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <sched.h>
#include <sstream>
#include <unistd.h>

// Transmissions on the simulated port and the virtual clock, under the
// progress dialog: their edges, abort and time audit; and the simulated
// port's own trace.

constexpr std::int64_t MS = NS_PER_MS;
using Times = QList<quint32>;

// Returns once `interrupt` is raised.
static void until(const Interrupt& interrupt)
{
    for (std::uint32_t token = interrupt.token(); !interrupt.raised(); token = interrupt.token())
        interrupt.wait(token, -1);
}

// A time in ns as ms, in full.
static QString msText(std::int64_t t)
{
    return QString::number(t / 1e6, 'g', 15);
}

// What a synchronised send tells: "w<n>" pulses seen while waiting, "A"
// answering, and each input edge as "[p]<pin><^|v><number>@<ms>", with
// "/<reaction ms>:<pass>.<index>.<code>" when a cell came before it.
struct Listener : TransmissionObserver {
    QStringList heard;
    std::int64_t widest = 0; // the widest bracket of an edge
    void pulsesSeen(std::uint32_t seen) override { heard << QString("w%1").arg(seen); }
    void answering() override { heard << "A"; }
    void inputSeen(const InputEdge& edge) override
    {
        QString text = QString("%1%2%3%4@%5")
                           .arg(edge.pulse ? "p" : "")
                           .arg(edge.pin)
                           .arg(edge.rising ? '^' : 'v')
                           .arg(edge.number)
                           .arg(msText(edge.time));
        if (edge.cellSeen)
            text += QString("/%1:%2.%3.%4")
                        .arg(msText(edge.reaction))
                        .arg(edge.pass)
                        .arg(edge.index)
                        .arg(edge.code);
        heard << text;
        widest = std::max(widest, edge.within);
    }
};

class TestPort : public QObject
{
    Q_OBJECT

    std::unique_ptr<PortSession> sim;
    // Where a word list could not be read, and why.
    QString listFailure;

    // Runs `action` at `ms` on the transmission's time line.
    void at(qint64 ms, std::function<void()> action) { sim->clock.at(ms * MS, action); }

    // Every data-register write since the claim as "ms:byte", then "end" and
    // when the clock stopped, in ms.
    QString edges() const
    {
        QStringList out;
        for (auto w = portsim::writes().begin() + sim->firstWrite; w != portsim::writes().end();
             ++w)
            if (w->address == LPT1_BASE)
                out << msText(w->time) + ':' + QString::number(w->value);
        return (out << "end" << msText(sim->clock.now())).join(' ');
    }

    // Gives its text, then fails to read.
    struct Unreadable : std::stringbuf {
        using std::stringbuf::stringbuf;
        int_type underflow() override { throw std::ios_base::failure("unreadable"); }
    };

    // Plays "<mode> <codes> <loops>,<trigger>,<pause>,<hold>,<interval>" as a
    // record (a single shot raises pins 0, 2 and 7), or "file:<body>" as a word
    // list checked, then read whole before it plays; "file@:<body>" fails to
    // read after its body, "file?:<body>" only while it is checked, and
    // "file!<bytes>:<body>" has no memory for codes of that size. With `sync`
    // when given.
    Outcome transmit(const QByteArray& input, TransmissionObserver& observer,
                     const Interrupt& interrupt, const Synchronisation* sync = nullptr)
    {
        if (input.startsWith("file")) {
            const std::string text = input.mid(input.indexOf(':') + 1).toStdString();
            std::stringbuf checked(text), played(text);
            Unreadable failing(text);
            std::istream first(input[4] == '?' ? &failing : &checked);
            std::istream body(input[4] == '@' ? &failing : &played);
            WordList whole(first), list(body);
            if (!whole.check().readable)
                return listFailure = QString::fromStdString(" check " + whole.failure()),
                       Outcome::FileUnreadable;
            EntryQueue queue;
            Interrupt filled; // nobody waits: the list is read before it plays
            std::uint32_t hold = 0, interval = 0;
            std::vector<std::uint16_t> codes;
            failingFromSize = input[4] == '!' ? input.mid(5, input.indexOf(':') - 5).toUInt() : 0;
            while (list.next(hold, interval, codes))
                queue.push(hold, interval, std::move(codes), filled);
            failingFromSize = 0;
            queue.close(list.end(), filled);
            if (list.end() == Outcome::FileUnreadable)
                listFailure = ' ' + QString::fromStdString(list.failure());
            return sync ? sendToParallelPort(queue, observer, interrupt, *sync)
                        : sendToParallelPort(queue, observer, interrupt);
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
        return sync ? sendToParallelPort(r, observer, interrupt, *sync)
                    : sendToParallelPort(r, observer, interrupt);
    }

private slots:
    void init()
    {
        sim = std::make_unique<PortSession>();
        listFailure.clear();
    }
    void cleanup()
    {
        portsim::beforeWrite({});
        sim.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // What a send's outcome is called in the expected texts.
    static const char* outcomeText(Outcome outcome)
    {
        const char* const texts[] = {
            "", " aborted", " port failed", " out of memory", " file unreadable", " no pulse"};
        return texts[int(outcome)];
    }

    // The rehearsal's trace tells each change of the data lines and of the
    // input pins after they came to rest (a level set again is none), with
    // the seconds since the process started; the writes are not kept.
    void trace()
    {
        VirtualClock clock(RealClock().now());
        const std::size_t kept = portsim::writes().size();
        const SimulatedLab lab(0, 10);
        const QByteArray lines = capturedOutput(stderr, [&] {
            set_pin(0x40013); // a control pin too, which is no data line
            clock.waitUntil(clock.now() + 250 * MS);
            resetParallelPort();
            portsim::setInput(11, false);
            portsim::setInput(11, false);
            portsim::setInput(15, true);
            portsim::setInput(15, false);
        });
        QCOMPARE(portsim::writes().size(), kept);
        QCOMPARE(QString(lines).remove(QRegularExpression("(?m)^.{12}")), // the times
                 "  \u2813  0x13\n  \u2800  0x00\n  pin 11 low\n  pin 15 low\n");
        QCOMPARE(qRound64((lines.mid(24, 12).toDouble() - lines.left(12).toDouble()) * 1e6),
                 250000);
        QCOMPARE(pin_is_set(LP_PIN[11] | LP_PIN[15] | LP_PIN[10]), LP_PIN[10]);
        // A claim keeps no input in the output registers it reads, and names
        // a port at neither LPT address by its address.
        QVERIFY(!initializeParallelPort(0x3BC));
        QCOMPARE(portsim::hardware(0x3BC) | portsim::hardware(0x3BE), 0);
        QCOMPARE(drivenPort(), "0x3bc: simulated port");
        portsim::reset(); // which ends the trace
        QCOMPARE(capturedOutput(stderr, [] { portsim::setInput(12, true); }), QByteArray());
    }

    // On a thread of its own, on the real clock, under the dialog: the thread
    // alone runs under the real-time policy when the system permits it; Abort
    // pressed in the dialog ends a wait of a minute at once (every wait is
    // the clock's one interruptible wait: where it stands is the virtual
    // rows' concern), also in a record of a single step; the dialog, looked
    // at after |pressMs| ms (Abort pressed there when it is positive), shows
    // the steps.
    void threaded_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("pressMs");
        QTest::addColumn<QString>("expected"); // the dialog; bytes raised and lowered, outcome
        // clang-format off
        QTest::newRow("to the end") << QByteArray("1 ab 1,0,0,200,5") << -100 << "Sending... Abort 3 | 1 0 3 0 completed";
        QTest::newRow("abort in a hold") << QByteArray("1 a 1,0,0,60000,0") << 100 << "Sending... Abort 2 | 1 0 aborted";
        QTest::newRow("abort in a single step") << QByteArray("1 a 0,60000,0,0,0") << 100 << "Sending... Abort 1 | 63 0 aborted";
        // clang-format on
    }
    void threaded()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, pressMs);
        setCurrentClock(nullptr); // the real clock, until the session's goes
        const sched_param fifo{sched_get_priority_min(SCHED_FIFO)}, normal{0};
        const bool permitted = sched_setscheduler(0, SCHED_FIFO, &fifo) == 0;
        QCOMPARE(sched_setscheduler(0, SCHED_OTHER, &normal), 0);
        QString shown;
        QTimer::singleShot(std::abs(pressMs), [&] {
            auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            shown = dialog ? dialog->labelText() + ' ' + dialog->findChild<QPushButton*>()->text() +
                                 ' ' + QString::number(dialog->maximum())
                           : "none";
            if (dialog && pressMs > 0)
                dialog->findChild<QPushButton*>()->click();
        });
        int policy = -1;
        QElapsedTimer took;
        took.start();
        int polls = 0; // the window's looks at the send, each a supply
        const Outcome outcome =
            SendProgress::run(
                [&](TransmissionObserver& observer, const Interrupt& interrupt) {
                    policy = sched_getscheduler(0);
                    return transmit(input, observer, interrupt);
                },
                nullptr, [&polls](Interrupt&) { return ++polls; })
                .outcome;
        QVERIFY2(took.elapsed() < 10000, "a wait of a minute was not cut short");
        QVERIFY2(polls <= took.elapsed(), "the window looked more than once a millisecond");
        QStringList seen;
        for (auto w = portsim::writes().begin() + sim->firstWrite; w != portsim::writes().end();
             ++w)
            seen << QString::number(w->value);
        seen << (outcome == Outcome::Completed ? "completed" : "aborted");
        QTEST(shown + " | " + seen.join(' '), "expected");
        QCOMPARE(
            QList<int>({policy, sched_getscheduler(0)}),
            QList<int>({permitted ? SCHED_FIFO | SCHED_RESET_ON_FORK : SCHED_OTHER, SCHED_OTHER}));
        QCOMPARE(
            QList<int>({SendProgress::shownValue(3, 5), SendProgress::shownValue(0, 1ull << 33),
                        SendProgress::shownValue(1, 1ull << 33),
                        SendProgress::shownValue(1ull << 33, 1ull << 33)}),
            QList<int>({3, 0, 1, INT_MAX}));
    }

    // The window tops up the send's queue: a full queue waits for room, and
    // the list's end closes it.
    void supply()
    {
        std::istringstream text("a 1 1 b 1 1 c 1 1");
        WordList list(text);
        EntryQueue queue(2);
        Interrupt wake;
        Entry entry;
        int rounds = 1;
        for (; list.supply(queue, wake); ++rounds)
            QVERIFY(queue.next(entry, wake));
        QVERIFY(rounds == 4 && queue.closed()); // a slot is free once the next is taken
    }

    // Abort in the spin just before a deadline ends the wait at once.
    void abortWhileSpinning()
    {
        struct Stepping : RealClock {
            Interrupt abort;
            std::int64_t t = 0; // a microsecond a look
            std::int64_t now() override { return (t += 1000) == 5000 ? abort.raise(), t : t; }
        } clock;
        QVERIFY(!clock.waitUntil(RealClock::SPIN_MARGIN_NS / 10, clock.abort));
        QCOMPARE(clock.t, 5000);
    }

    // Without a file the audit only sums up, however many cells come.
    void auditWithoutFile()
    {
        TimeAudit summary(nullptr, "S", "m", "P");
        const CellTiming cell{1, 1, 97, 1, 0, 0, MS, MS, 0};
        for (int i = 0; i < 10000; ++i)
            summary.cellPresented(cell);
        summary.cellPresented({1, 1, 97, 1, 0, 0, MS, MS + 999'500, 0}); // shown in ms from here
        QVERIFY(summary.finish());
        QCOMPARE(summary.summary().text(),
                 "10001 cells · worst onset delay 0 µs · worst hold error 1.0 ms");
        // A file made now is known as made, whatever errno an earlier call
        // left, also as descriptor 0 (standard input closed).
        QTemporaryDir dir;
        bool created = false;
        QVERIFY(withoutStandardInput([&] {
            errno = EEXIST;
            QVERIFY(openPatientFile((dir.path() + "/A.csv").toStdString(), created) == 0 &&
                    created);
        }));
    }

    // Preparing a send on a thread of its own: quick work shows nothing; long
    // work shows its progress after half a second, and Cancel stops it; what
    // the work throws reaches the window's thread.
    void prepare()
    {
        QStringList seen;
        QTimer::singleShot(SendProgress::PREPARE_SHOW_MS + 200, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            seen << (dialog ? windowText(*dialog) : "none");
            if (dialog)
                dialog->findChild<QPushButton*>()->click();
        });
        const bool quick = SendProgress::prepare([](const Interrupt&, std::atomic<int>&) {});
        const bool cancelled =
            SendProgress::prepare([&](const Interrupt& cancel, std::atomic<int>& permille) {
                permille = 250;
                until(cancel);
            });
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc,
                                 SendProgress::prepare([](const Interrupt&, std::atomic<int>&) {
                                     throw std::bad_alloc();
                                 }));
        QCOMPARE(QString("%1 %2 ").arg(quick).arg(cancelled) + seen.join(' '),
                 QString("1 0 \n: Preparing...\n: 25%\n: Cancel"));
        QVERIFY(!SendProgress::running());
    }

    // The edges, and how the transmission ended when it did not complete;
    // after " | " the progress reported by each of `probeMs` as "done/total";
    // after a line end the time audit's rows and summary, for the rows that
    // give them. Abort is pressed at `pressMs` unless it is negative; the
    // clock wakes up `late` (at ms, by µs) late once, and jumps `slow` (before
    // the n-th data write from 1, by µs) between an edge's reading and its
    // write.
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
            "2/5 5/5\n"
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
        row("a total beyond int", "1 a 4294967295,0,0,0,0", "end 0 aborted | 1/4294967296", 0,
            {0, 0}, {0});
        // Abort ends the transmission at once, wherever it is.
        const char* const cells = "1 abcde 1,0,0,100,100";
        row("abort in a hold: lowered at once, the hold it had", cells,
            "0:1 100:0 200:3 250:0 end 250 aborted\n"
            "S,m,1,1,97,1,0.000,0.000,0.000,100.000,100.000,0.000,0.000,P\n"
            "S,m,1,2,98,3,200.000,200.000,0.000,100.000,50.000,-50.000,0.000,P\n"
            "2 cells · worst onset delay 0 µs · worst hold error 50.0 ms · 1 cell off by more "
            "than 1 ms",
            250);
        row("abort in an interval", cells, "0:1 100:0 200:3 300:0 end 350 aborted", 350);
        row("abort in the last interval", cells,
            "0:1 100:0 200:3 300:0 400:9 500:0 600:25 700:0 800:17 900:0 end 950 aborted", 950);
        row("abort in the pause", "1 a 1,10,1000000,10,10", "0:63 10:0 end 500 aborted", 500);
        // Word lists: each entry a record of its own on the one timeline.
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
            "10:3 20:0 20:9 2147483667:0 end 2147483667");
        row("words in UTF-8, in code page 437, with a NUL",
            QByteArray("file:ña 10 0 a\xA4 10 0 a\0b 10 0", 31),
            "0:59 10:0 10:1 20:0 20:1 30:0 30:59 40:0 40:1 50:0 50:3 60:0 end 60");
        row("abort in the last cell of an entry", "file:ab 100 100 cd 100 100",
            "0:1 100:0 200:3 250:0 end 250 aborted", 250);
        row("read error: the entry being read is not sent", "file@:a 10 0\n\nb 10",
            "0:1 10:0 end 10 file unreadable entry 2 (line 3): the read failed");
        row("read error in a word after an empty line", "file@:a 10 0\n\nb",
            "0:1 10:0 end 10 file unreadable entry 2 (line 3): the read failed");
        row("read error while checked: nothing sent", "file?:a 10 0 b 5 5\n c",
            "end 0 file unreadable check entry 3 (line 2): the read failed");
        row("an entry without memory for its codes ends the list", "file!6:a 10 0 abc 10 0 b 10 0",
            "0:1 10:0 end 10 out of memory");
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
        Interrupt interrupt;
        QTemporaryDir dir;
        const QString path = dir.filePath("t.csv");
        TimingFile file;
        std::string setAside;
        QVERIFY(file.open(path.toStdString(), setAside));
        TimeAudit audit(&file, "S", "m", "P");
        struct Recorder : TransmissionObserver {
            TimeAudit& audit;
            std::uint64_t total = 0, done = 0;
            explicit Recorder(TimeAudit& audit) : audit(audit) {}
            void recordStarted(std::uint64_t steps) override { total = steps, done = 0; }
            void progressed(std::uint64_t steps) override { done = steps; }
            void cellPresented(const CellTiming& cell) override { audit.cellPresented(cell); }
        } recorder(audit);
        QStringList seen;
        for (quint32 t : probeMs)
            at(t, [&] { seen << QString("%1/%2").arg(recorder.done).arg(recorder.total); });
        at(late[0], [this, by = late[1]] { sim->clock.waitUntil(sim->clock.now() + by * 1000); });
        if (pressMs >= 0)
            at(pressMs, [&interrupt] { interrupt.raise(); });
        const Outcome outcome = transmit(input, recorder, interrupt);
        QString actual = edges() + outcomeText(outcome) + listFailure +
                         (seen.isEmpty() ? "" : " | " + seen.join(' '));
        QVERIFY(audit.finish());
        QFile rows(path);
        QVERIFY(rows.open(QIODevice::ReadOnly));
        if (expected.contains('\n'))
            actual += '\n' + QString::fromUtf8(rows.readAll().mid(qstrlen(TimeAudit::HEADER))) +
                      QString::fromStdString(audit.summary().text());
        QCOMPARE(actual, expected);
        QCOMPARE(portsim::hardware(LPT1_BASE), 0);
    }

    // Sends synchronised by `sync` (the settings' text) while `events` happen:
    // "<ms>:<pin><+|->" sets an input pin high or low, "<ms>:abort" presses
    // Abort, "<ms>:late<us>" wakes the clock up that late. Before the send pin 10 is low and the
    // others high (buttons to ground at rest). After " | " what a Listener heard. Every edge
    // is bracketed by at most a poll
    // period, and where the send does not wait for a pulse, the data lines
    // change exactly when they do without synchronisation.
    void synchronised_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("sync");
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& input, const QByteArray& sync,
                            const QByteArray& events, const char* expected) {
            QTest::newRow(name) << input << sync << events << QString(expected);
        };
        const QByteArray pulse3 = "wait_for_pulse=yes\npulse_number=3";
        row("starts on pulse 3, trigger first; later pulses numbered on", "1 ab 1,10,5,20,30",
            pulse3, "1:10+ 2:10- 3:10+ 4:10- 5:10+ 6:10- 50:10+",
            "5:63 15:0 20:1 40:0 70:3 90:0 end 120 | w0 w1 w2 w3 p10^1@-4 p10^2@-2 p10^3@0 "
            "p10^4@45/30:1.1.97");
        row("a line high from the start is no rising pulse", "2 \x01 1,0,0,10,0",
            "wait_for_pulse=yes\npulse_pin=12", "2:12- 3:12+", "3:1 13:0 end 13 | w0 w1 p12^1@0");
        row("falling pulses", "2 \x01 1,0,0,10,0", "wait_for_pulse=yes\npulse_edge=falling",
            "2:10+ 3:10-", "3:1 13:0 end 13 | w0 w1 p10v1@0");
        // The time limit and Abort while waiting: the window's rows.
        row("a word list waits once", "file:a 10 20 b 5 5", "wait_for_pulse=yes",
            "3:10+ 4:10- 20:10+", "3:1 13:0 33:3 38:0 end 43 | w0 w1 p10^1@0 p10^2@17/17:1.1.97");
        row("a single shot waits too", "0 ab 2,100,50,5,300", "wait_for_pulse=yes", "2:10+",
            "2:131 7:0 end 7 | w0 w1 p10^1@0");
        row("a single shot, no pulse in time", "0 ab 2,100,50,5,300",
            "wait_for_pulse=yes\ntime_limit_ms=5", "9:10+", "end 5 no pulse | w0");
        const QByteArray answers = "answer_pins=12,13\nresponse_window_ms=50";
        row("answers before a cell, in a hold and in an interval", "1 ab 1,0,10,20,30", answers,
            "5:12- 15:12+ 40:13-",
            "10:1 30:0 60:3 80:0 end 130 | 12v1@5 12^2@15/5:1.1.97 13v3@40/30:1.1.97 A");
        row("the trigger is a cell", "1 a 1,10,10,20,0", answers, "5:12-",
            "0:63 10:0 20:1 40:0 end 90 | 12v1@5/5:0.0.-1 A");
        row("within the response window, not after it", "1 a 1,0,0,10,10", answers, "55:12- 65:12+",
            "0:1 10:0 end 60 | A 12v1@55/55:1.1.97");
        row("a window within the last interval ends with it", "1 a 1,0,0,10,100", answers,
            "105:12-", "0:1 10:0 end 110 | 12v1@105/105:1.1.97 A");
        row("abort in the response window: completed", "1 a 1,0,0,10,10", answers,
            "30:12- 40:abort 45:12+", "0:1 10:0 end 40 | A 12v1@30/30:1.1.97");
        row("abort in a hold", "1 ab 1,0,0,20,30", answers, "5:12- 10:abort",
            "0:1 10:0 end 10 aborted | 12v1@5/5:1.1.97");
        row("a wake-up late by more than a poll period: reads still a period apart",
            "1 a 1,0,0,10,10", answers, "3:late190 9.995:12-",
            "0:1 10:0 end 60 | 12v1@10/10:1.1.97 A");
        row("a bouncing button: one edge a press, one a release", "1 a 1,0,0,50,0", answers,
            "5:12- 5.2:12+ 5.4:12- 5.6:12+ 5.8:12- 20:12+ 20.3:12- 20.5:12+",
            "0:1 50:0 end 100 | 12v1@5/5:1.1.97 12^2@20/20:1.1.97 A");
        row("the dead time counts from an edge, not from the start", "1 a 1,0,0,10,0",
            "answer_pins=12\ndead_time_ms=1000", "3:12-", "0:1 10:0 end 2010 | 12v1@3/3:1.1.97 A");
        row("a press shorter than the dead time ends after it", "1 a 1,0,0,50,0", answers,
            "5:12- 7:12+", "0:1 50:0 end 100 | 12v1@5/5:1.1.97 12^2@10/10:1.1.97 A");
        row("a word list's answers and pulses after the origin", "file:a 10 20 b 5 5",
            "wait_for_pulse=yes\n" + answers, "1:10+ 12:13- 35:12-",
            "1:1 11:0 31:3 36:0 end 86 | w0 w1 p10^1@0 13v1@11/11:1.1.97 12v2@34/4:2.1.98 A");
    }
    void synchronised()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, events);
        QFETCH(QByteArray, sync);
        std::vector<std::string> problems;
        const Synchronisation settings = Synchronisation::fromText(sync.toStdString(), problems);
        QVERIFY(problems.empty());
        // Plays the row, with `sync` or without: the data-register writes.
        const auto play = [&](const Synchronisation* with, TransmissionObserver& observer) {
            sim.reset(); // its clock goes before the next one is installed
            sim = std::make_unique<PortSession>();
            for (const int pin : Synchronisation::INPUT_PINS)
                portsim::setInput(pin, pin != 10);
            Interrupt abort;
            for (const QByteArray& event : events.split(' ')) {
                const QByteArray what = event.split(':')[1];
                sim->clock.at(qRound64(event.split(':')[0].toDouble() * MS), [&, what] {
                    if (what == "abort")
                        abort.raise();
                    else if (what.startsWith("late"))
                        sim->clock.waitUntil(sim->clock.now() + what.mid(4).toInt() * 1000);
                    else
                        portsim::setInput(what.left(2).toInt(), what.endsWith('+'));
                });
            }
            return edges() + outcomeText(transmit(input, observer, abort, with));
        };
        Listener recorder;
        const QString actual = play(&settings, recorder);
        QTEST(actual + " | " + recorder.heard.join(' '), "expected");
        QVERIFY(recorder.widest <= INPUT_POLL_NS);
        if (!settings.waitForPulse) {
            TransmissionObserver unheard;
            const QString plain = play(nullptr, unheard);
            QCOMPARE(actual.left(actual.indexOf(" end")), plain.left(plain.indexOf(" end")));
        }
    }

    // Through the transmission's thread: its progress shows the wait with the
    // pulses seen, then the timeline, then the response window; the input
    // edges come out of their ring oldest first, and those that found it full
    // are counted.
    void relayed()
    {
        std::vector<std::string> problems;
        const Synchronisation sync = Synchronisation::fromText(
            "wait_for_pulse=yes\npulse_number=2\nanswer_pins=12\ndead_time_ms=0", problems);
        Interrupt go;
        QStringList phases;
        const char* const names[] = {"waiting", "playing", "answering", "starting"};
        TransmissionThread thread([&](TransmissionObserver& observer, const Interrupt& interrupt) {
            until(go);
            return transmit("1 a 1,0,0,10,0", observer, interrupt, &sync);
        });
        const auto probe = [&] {
            const TransmissionThread::Progress now = thread.progress();
            phases << QString("%1 %2 %3/%4")
                          .arg(names[int(now.phase)])
                          .arg(now.pulses)
                          .arg(now.done)
                          .arg(now.total);
        };
        at(1, probe);
        at(2, [] { portsim::setInput(10, true); });
        at(3, [] { portsim::setInput(10, false); });
        at(3, probe);
        at(4, [] { portsim::setInput(10, true); });
        at(6, probe);
        for (int i = 0; i < int(TransmissionThread::EDGE_CAPACITY) + 10; ++i)
            sim->clock.at(20 * MS + i * INPUT_POLL_NS, [i] { portsim::setInput(12, i % 2 == 0); });
        at(20, probe);
        go.raise();
        QCOMPARE(thread.join(), Outcome::Completed);
        Listener taken;
        thread.takeEdges(taken);
        QCOMPARE(
            phases.join(", ") + QString(" | %1 %2 taken, last %3, %4 lost")
                                    .arg(taken.heard.mid(0, 3).join(' '))
                                    .arg(taken.heard.size())
                                    .arg(taken.heard.last())
                                    .arg(thread.lostEdges()),
            QString("waiting 0 0/2, waiting 1 0/2, playing 2 1/2, answering 2 2/2 | p10^1@-2 "
                    "p10^2@0 12^1@16/16:1.1.97 %1 taken, last 12v%2@%3/%3:1.1.97, 12 lost")
                .arg(TransmissionThread::EDGE_CAPACITY)
                .arg(TransmissionThread::EDGE_CAPACITY - 2)
                .arg(msText(16 * MS + (TransmissionThread::EDGE_CAPACITY - 3) * INPUT_POLL_NS)));
    }

    // The settings as text, read back as written and read tolerantly: the
    // lines that differ from the defaults, then after " | " each problem.
    void settings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        const char* const pins = " is not an input pin (10, 11, 12, 13 or 15)";
        const char* const every =
            "wait_for_pulse=yes\npulse_pin=15\npulse_edge=falling\npulse_number=1000\n"
            "time_limit_ms=2147483647\nanswer_pins=11,12,13\npress_edge=rising\n"
            "response_window_ms=0\ndead_time_ms=0\n";
        QTest::newRow("every setting")
            << QByteArray(every) << QString(every).replace('\n', ' ').trimmed();
        QTest::newRow("CRLF, blank lines, spaces, an unknown key, a line without a value")
            << QByteArray("\r\nwait_for_pulse=yes\r\n\r\n pulse_pin = 13 \r\ncolour=blue\r\nno\r\n")
            << "wait_for_pulse=yes pulse_pin=13";
        QTest::newRow("bad pins keep the default")
            << QByteArray("pulse_pin=9\npulse_pin=\npulse_pin=" + QByteArray(40, 'x') +
                          "\nanswer_pins=11,14")
            << QString(" | pulse_pin: 9%1 | pulse_pin: an empty value%1 | pulse_pin: %2...%1 | "
                       "answer_pins: 14%1")
                   .arg(pins, QString(32, 'x'));
        QTest::newRow("numbers too large, too small or signed")
            << QByteArray("time_limit_ms=99999999999\nresponse_window_ms=2147483648\n"
                          "pulse_number=0\npulse_number=1001\ndead_time_ms=-1\ndead_time_ms=\n")
            << " | time_limit_ms: 99999999999 is not a number of ms from 0 to 2147483647 | "
               "response_window_ms: 2147483648 is not a number of ms from 0 to 2147483647 | "
               "pulse_number: 0 is not a number from 1 to 1000 | pulse_number: 1001 is not a "
               "number from 1 to 1000 | dead_time_ms: -1 is not a number of ms from 0 to "
               "2147483647 | dead_time_ms: an empty value is not a number of ms from 0 to "
               "2147483647";
        QTest::newRow("empty answer pins, the edges' words")
            << QByteArray("answer_pins=12\nanswer_pins=\npress_edge=rising\npulse_edge=falling\n"
                          "pulse_edge=up\nwait_for_pulse=maybe")
            << "pulse_edge=falling press_edge=rising | pulse_edge: up is not rising or falling | "
               "wait_for_pulse: maybe is not yes or no";
        QTest::newRow("pins in any order, none twice, none left out")
            << QByteArray("answer_pins=13, 11\nanswer_pins=12,12\nanswer_pins=11,,12")
            << QString("answer_pins=11,13 | answer_pins: pin 12 is named twice | answer_pins: an "
                       "empty value%1")
                   .arg(pins);
        QTest::newRow("the pulse pin answers nothing, the others do")
            << QByteArray("wait_for_pulse=yes\npulse_pin=12\nanswer_pins=11,12")
            << "wait_for_pulse=yes pulse_pin=12 answer_pins=11 | answer_pins: pin 12 is the pulse "
               "pin";
    }
    void settings()
    {
        QFETCH(QByteArray, text);
        std::vector<std::string> problems, none;
        const Synchronisation read = Synchronisation::fromText(text.toStdString(), problems);
        QVERIFY(Synchronisation::fromText(read.toText(), none) == read && none.empty());
        const QStringList defaults = QString::fromStdString(Synchronisation().toText()).split('\n');
        QStringList changed;
        for (const QString& line : QString::fromStdString(read.toText()).split('\n'))
            changed << (defaults.contains(line) ? "" : line);
        QString actual = changed.join(' ').simplified();
        for (const std::string& problem : problems)
            actual += " | " + QString::fromStdString(problem);
        QTEST(actual, "expected");
    }
};

QTEST_MAIN(TestPort)
#include "tst_port.moc"
