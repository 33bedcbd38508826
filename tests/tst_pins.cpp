#include "clock.h"
#include "output_capture.h"
#include "pins.h"
#include "port_refusal.h"
#include "portio_sim.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <functional>

namespace
{

constexpr unsigned BASE = 0x378;
constexpr int UNREAD = 0x5A5; // no register access can leave this in lp_register

// What `action` prints on standard error.
QString stderrOf(const std::function<void()>& action)
{
    return QString::fromUtf8(capturedOutput(stderr, action));
}

// Writes from index `from` on as "<register>:<hex value>", e.g. "0:49 2:0a".
QString writesSince(std::size_t from)
{
    QStringList parts;
    const auto& w = portsim::writes();
    for (std::size_t i = from; i < w.size(); ++i)
        parts << QString("%1:%2").arg(w[i].address - BASE).arg(w[i].value, 2, 16, QChar('0'));
    return parts.join(' ');
}

// Sets the hardware registers (data, status, control), runs `action`, and
// gives the registers it read or wrote as bits 0-2.
int touchedBy(const QList<int>& hardware, const std::function<void()>& action)
{
    for (int r = 0; r < 3; ++r) {
        portsim::setHardware(BASE + r, std::uint8_t(hardware[r]));
        lp_register[r] = UNREAD;
    }
    action();
    int touched = 0;
    for (int r = 0; r < 3; ++r)
        touched |= (lp_register[r] != UNREAD) << r;
    return touched;
}

void claimWithOutputs(int inputs)
{
    QCOMPARE(pin_init_user(int(BASE)), 0);
    pin_output_mode(0xF00FF);
    pin_input_mode(inputs);
}

// mode: change_pin's 0 clear, 1 set, 2 (nothing); 3 reads with pin_is_set.
void access(const char* name, int inputs, QList<int> hardware, int mode, int pins, int result,
            const char* writes, int touched)
{
    QTest::newRow(name) << inputs << hardware << mode << pins << result << QString(writes)
                        << touched;
}

} // namespace

class TestPins : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        portsim::reset();
        pin_layer_reset();
    }
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void directions()
    {
        const auto masks = [] { return QList<int>({lp_output_pins, lp_input_pins}); };
        portsim::setHardware(BASE + 2, 0x2F); // direction bit set, pins 1/14/17 low, 16 high
        QCOMPARE(pin_init_user(int(BASE)), 0);
        pin_mode(0xF00FF, 2);
        pin_output_mode(int(0xFF30FF00)); // status and non-pin bits
        QCOMPARE(writesSince(0), QString());
        QCOMPARE(masks(), QList<int>({0x300000, 0x30F800}));
        pin_mode(0xF00FF, 1);
        QCOMPARE(masks(), QList<int>({0x3F00FF, 0x30F800}));
        pin_mode(0x80001, 0); // one data bit turns all eight; input pin 17 is driven high
        QCOMPARE(masks(), QList<int>({0x370000, 0x38F8FF}));
        QCOMPARE(writesSince(0), QString("2:0f 2:0f 2:2f 2:27"));
    }

    void accesses_data()
    {
        QTest::addColumn<int>("inputs");          // pins made inputs after all were made outputs
        QTest::addColumn<QList<int>>("hardware"); // data, status, control before the call
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("pins");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("writes");
        QTest::addColumn<int>("touched"); // registers read or written

        const QList<int> low{0, 0, 0x0B}; // every pin logical 0
        access("D0 and D3 only", 0, {0x40, 0, 0x0B}, 1, 0x09, 0, "0:49", 1);
        access("clear keeps others", 0, {0x49, 0, 0x0B}, 0, 0x09, 0, "0:40", 1);
        // Pins 1, 14 and 17 are inverted, 16 is not.
        access("set pins 1 14 16 17", 0, low, 1, 0xF0000, 0, "2:04", 4);
        access("set pin 1 keeps pin 16", 0, {0, 0, 0x0F}, 1, 0x10000, 0, "2:0e", 4);
        access("data before control", 0, low, 1, 0x10001, 0, "0:01 2:0a", 5);
        access("status never written", 0, low, 1, 0xF801, 0, "0:01", 1);
        access("mode 2 does nothing", 0, low, 2, 0xF00FF, 0, "", 0);
        access("input pin 17 kept high", 0x80000, {0, 0, 0x0A}, 0, 0x10000, 0, "2:03", 4);
        access("input pin 17 not cleared", 0x80000, {0, 0, 0x03}, 0, 0x80000, 0, "", 0);
        access("input data not written", 0xFF, low, 1, 0xFF, 0, "", 0);
        access("pin 11 is 1 at hardware 0", 0, {0, 0x00, 0}, 3, 0xFF00, 0x8000, "", 2);
        access("pin 11 is 0 at hardware 1", 0, {0, 0xFF, 0}, 3, 0xFF00, 0x7800, "", 2);
        access("output data reads 0", 0, {0xFF, 0, 0}, 3, 0xFF, 0, "", 0);
        // Pin 17 input reads 1 at hardware 0; output pin 1 reads 0 whatever its line.
        access("control", 0x80000, {0, 0x80, 0x20}, 3, 0xFF0000, 0x280000, "", 4);
        access("every register", 0xFF, {0x5A, 0, 0x20}, 3, -1, 0x20805A, "", 7);
    }
    void accesses()
    {
        QFETCH(int, inputs);
        QFETCH(QList<int>, hardware);
        QFETCH(int, mode);
        QFETCH(int, pins);
        claimWithOutputs(inputs);
        const std::size_t mark = portsim::writes().size();
        int result = 0;
        const auto call = [&] {
            if (mode == 3)
                result = pin_is_set(pins);
            else
                change_pin(pins, mode);
        };
        QTEST(touchedBy(hardware, call), "touched");
        QTEST(result, "result");
        QTEST(writesSince(mark), "writes");
    }

    // A refused switch to another port leaves nothing usable of the first one,
    // and its reason goes to the caller, not to standard error.
    void refusedClaim()
    {
        claimWithOutputs(0);
        portsim::refuseClaims(EACCES);
        const std::size_t mark = portsim::writes().size();
        int result = 0;
        PortRefusal refusal;
        QCOMPARE(stderrOf([&] { result = pin_init_user(0x278, &refusal); }), QString());
        QCOMPARE(result, -1);
        QCOMPARE(refusal.error, EACCES);
        QCOMPARE(refusal.lines,
                 std::vector<std::string>{"can't get IO permissions!: Permission denied"});
        const auto everything = [&] {
            pin_output_mode(0xF00FF);
            pin_input_mode(0xF00FF);
            set_pin(-1);
            clear_pin(-1);
            result = pin_is_set(-1);
        };
        QCOMPARE(touchedBy({0xFF, 0xFF, 0xFF}, everything), 0);
        QCOMPARE(result, 0);
        QCOMPARE(writesSince(mark), QString());
    }

    void traceShowsDataChanges()
    {
        claimWithOutputs(0);
        const std::int64_t start = RealClock().now();
        VirtualClock vc(start);
        portsim::traceDataLines();
        QStringList lines = stderrOf([&] {
                                set_pin(0x13);
                                set_pin(0x13);    // no change
                                set_pin(0x40000); // a change, but of the control register
                                vc.waitUntil(start + 250 * NS_PER_MS);
                                set_pin(0xFF);
                                vc.waitUntil(start + 251 * NS_PER_MS);
                                clear_pin(0xFF);
                            }).split('\n');
        QCOMPARE(lines.takeLast(), QString());
        // Seconds since the process started, on the writes' time line.
        QList<qint64> us;
        for (QString& line : lines) {
            QCOMPARE(line.indexOf('.'), 5);
            us << qRound64(line.left(12).toDouble() * 1e6);
            line.remove(0, 12);
        }
        QCOMPARE(lines, QStringList({"  \u2813  0x13", "  \u28ff  0xff", "  \u2800  0x00"}));
        QCOMPARE(QList<qint64>({us[1] - us[0], us[2] - us[1]}), QList<qint64>({250000, 1000}));
    }
};

QTEST_MAIN(TestPins)
#include "tst_pins.moc"
