#include "clock.h"
#include "pins.h"
#include "portio_sim.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace
{

constexpr unsigned BASE = 0x378;
constexpr unsigned DATA = BASE;
constexpr unsigned STATUS = BASE + 1;
constexpr unsigned CONTROL = BASE + 2;
constexpr int UNREAD = 0x5A5; // no register read can leave this in lp_register

// What `action` prints on standard error, caught at the file descriptor.
QString stderrOf(const std::function<void()>& action)
{
    std::FILE* file = std::tmpfile();
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(fileno(file), 2);
    action();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::rewind(file);
    QFile in;
    in.open(file, QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(in.readAll());
    in.close();
    std::fclose(file);
    return text;
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

void markUnread()
{
    for (int& r : lp_register)
        r = UNREAD;
}

// Bit n set when register n was read or written since markUnread().
int touchedRegisters()
{
    int touched = 0;
    for (int r = 0; r < 3; ++r)
        touched |= (lp_register[r] != UNREAD) << r;
    return touched;
}

void configure()
{
    QCOMPARE(pin_init_user(int(BASE)), 0);
    pin_output_mode(0xF00FF);
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

    void claimLeavesHardwareAlone()
    {
        portsim::setHardware(DATA, 0x5A);
        QCOMPARE(pin_init_user(int(BASE)), 0);
        QCOMPARE(lp_base, int(BASE));
        QCOMPARE(lp_output_pins, 0x300000);
        QCOMPARE(lp_input_pins, 0x30F800);
        set_pin(0xFF); // data lines are not outputs yet
        clear_pin(0xFF);
        QCOMPARE(writesSince(0), QString());
        QCOMPARE(portsim::hardware(DATA), 0x5A);
    }

    void directions_data()
    {
        QTest::addColumn<bool>("claim");
        QTest::addColumn<int>("mode"); // pin_mode: 0 input, 1 output
        QTest::addColumn<int>("pins");
        QTest::addColumn<int>("outputs");
        QTest::addColumn<int>("inputs");
        QTest::addColumn<QString>("writes");
        // Control hardware starts at 0x2F: direction bit set, pins 1/14/17 low, 16 high.
        QTest::newRow("all outputs") << true << 1 << 0xF00FF << 0x3F00FF << 0x30F800 << "2:0f 2:0f";
        QTest::newRow("one data bit turns all eight to input")
            << true << 0 << 0x01 << 0x300000 << 0x30F8FF << "2:2f";
        QTest::newRow("pin 17 input is driven high")
            << true << 0 << 0x80000 << 0x300000 << 0x38F800 << "2:27";
        QTest::newRow("pin 1 output keeps its level")
            << true << 1 << 0x10000 << 0x310000 << 0x30F800 << "2:2f";
        QTest::newRow("status, mode and high bits ignored")
            << true << 1 << int(0xFF30FF00) << 0x300000 << 0x30F800 << "";
        QTest::newRow("mode 2 does nothing") << true << 2 << 0xF00FF << 0x300000 << 0x30F800 << "";
        QTest::newRow("nothing before a claim") << false << 1 << 0xF00FF << 0 << 0 << "";
    }
    void directions()
    {
        QFETCH(bool, claim);
        QFETCH(int, mode);
        QFETCH(int, pins);
        portsim::setHardware(CONTROL, 0x2F);
        if (claim)
            QCOMPARE(pin_init_user(int(BASE)), 0);
        pin_mode(pins, mode);
        QTEST(lp_output_pins, "outputs");
        QTEST(lp_input_pins, "inputs");
        QTEST(writesSince(0), "writes");
    }

    void setAndClear_data()
    {
        QTest::addColumn<int>("inputs"); // control pins made inputs beforehand
        QTest::addColumn<int>("data");   // hardware before the call
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("mode"); // change_pin mode: 1 set, 0 clear
        QTest::addColumn<int>("pins");
        QTest::addColumn<QString>("writes");
        QTest::addColumn<int>("touched"); // registers read or written

        QTest::newRow("D0 and D3 only") << 0 << 0x40 << 0x0B << 1 << 0x09 << "0:49" << 1;
        QTest::newRow("clear all data") << 0 << 0x49 << 0x0B << 0 << 0xFF << "0:00" << 1;
        QTest::newRow("set pin 1 is hardware 0") << 0 << 0 << 0x0B << 1 << 0x10000 << "2:0a" << 4;
        QTest::newRow("clear pin 1 is hardware 1") << 0 << 0 << 0x0A << 0 << 0x10000 << "2:0b" << 4;
        QTest::newRow("set pin 14") << 0 << 0 << 0x0B << 1 << 0x20000 << "2:09" << 4;
        QTest::newRow("set pin 16 not inverted") << 0 << 0 << 0x0B << 1 << 0x40000 << "2:0f" << 4;
        QTest::newRow("set pin 17") << 0 << 0 << 0x0B << 1 << 0x80000 << "2:03" << 4;
        QTest::newRow("data before control") << 0 << 0 << 0x0B << 1 << 0x10001 << "0:01 2:0a" << 5;
        QTest::newRow("status pins never touched") << 0 << 0 << 0x0B << 1 << 0xF801 << "0:01" << 1;
        QTest::newRow("high bits ignored") << 0 << 0 << 0x0B << 1 << int(0xFF000000) << "" << 0;
        QTest::newRow("mode 2 does nothing") << 0 << 0 << 0x0B << 2 << 0xFF << "" << 0;
        QTest::newRow("input pin 17 written high")
            << 0x80000 << 0 << 0x0A << 0 << 0x10000 << "2:03" << 4;
        QTest::newRow("input pin 17 cannot be cleared")
            << 0x80000 << 0 << 0x03 << 0 << 0x80000 << "" << 0;
        QTest::newRow("input pin 17 cannot be set")
            << 0x80000 << 0 << 0x0B << 1 << 0x80000 << "" << 0;
        QTest::newRow("data lines as inputs not written")
            << 0xFF << 0 << 0x0B << 1 << 0xFF << "" << 0;
    }
    void setAndClear()
    {
        QFETCH(int, inputs);
        QFETCH(int, data);
        QFETCH(int, control);
        QFETCH(int, mode);
        QFETCH(int, pins);
        configure();
        pin_input_mode(inputs);
        portsim::setHardware(DATA, std::uint8_t(data));
        portsim::setHardware(CONTROL, std::uint8_t(control));
        const std::size_t mark = portsim::writes().size();
        markUnread();
        change_pin(pins, mode);
        QTEST(writesSince(mark), "writes");
        QTEST(touchedRegisters(), "touched");
    }

    void pinIsSet_data()
    {
        QTest::addColumn<int>("inputs");
        QTest::addColumn<int>("data"); // hardware values
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("pins");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("touched");

        QTest::newRow("pin 11 reads 1 at hardware 0")
            << 0 << 0 << 0x00 << 0 << 0x8000 << 0x8000 << 2;
        QTest::newRow("pin 11 reads 0 at hardware 1") << 0 << 0 << 0x80 << 0 << 0x8000 << 0 << 2;
        QTest::newRow("status pins only") << 0 << 0 << 0xFF << 0 << 0xFF00 << 0x7800 << 2;
        QTest::newRow("data outputs read 0") << 0 << 0xFF << 0 << 0 << 0xFF << 0 << 0;
        QTest::newRow("data inputs") << 0xFF << 0x5A << 0x80 << 0 << 0xFF << 0x5A << 1;
        QTest::newRow("pin 17 input reads 1 at hardware 0")
            << 0x80000 << 0 << 0x80 << 0x20 << 0xFF0000 << 0x280000 << 4;
        QTest::newRow("output pin 1 reads 0") << 0 << 0 << 0x80 << 0x00 << 0x10000 << 0 << 0;
        QTest::newRow("every register")
            << 0xFF << 0x01 << 0x00 << 0x20 << int(0xFFFFFFFF) << 0x208001 << 7;
    }
    void pinIsSet()
    {
        QFETCH(int, inputs);
        QFETCH(int, data);
        QFETCH(int, status);
        QFETCH(int, control);
        QFETCH(int, pins);
        configure();
        pin_input_mode(inputs);
        portsim::setHardware(DATA, std::uint8_t(data));
        portsim::setHardware(STATUS, std::uint8_t(status));
        portsim::setHardware(CONTROL, std::uint8_t(control));
        const std::size_t mark = portsim::writes().size();
        markUnread();
        QTEST(pin_is_set(pins), "result");
        QTEST(touchedRegisters(), "touched");
        QCOMPARE(writesSince(mark), QString());
    }

    void refusedClaim_data()
    {
        QTest::addColumn<bool>("claimedBefore");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("no privilege")
            << false << EPERM << "can't get IO permissions!: Operation not permitted\n";
        QTest::newRow("switch to a refused port")
            << true << ENOSYS << "can't get IO permissions!: Function not implemented\n";
    }
    void refusedClaim()
    {
        QFETCH(bool, claimedBefore);
        QFETCH(int, error);
        if (claimedBefore)
            configure();
        portsim::refuseClaims(error);
        const std::size_t mark = portsim::writes().size();
        int result = 0;
        QTEST(stderrOf([&] { result = pin_init_user(0x278); }), "message");
        QCOMPARE(result, -1);
        QCOMPARE(lp_output_pins, 0);
        QCOMPARE(lp_input_pins, 0);
        markUnread();
        pin_output_mode(0xF00FF);
        pin_input_mode(0xF00FF);
        set_pin(-1);
        clear_pin(-1);
        QCOMPARE(pin_is_set(-1), 0);
        QCOMPARE(writesSince(mark), QString());
        QCOMPARE(touchedRegisters(), 0);
    }

    void traceShowsDataChanges()
    {
        configure();
        const std::int64_t start = RealClock().now();
        VirtualClock vc(start);
        portsim::traceDataLines();
        const QString out = stderrOf([&] {
            vc.waitUntil(start + 100 * NS_PER_MS);
            set_pin(0x13);
            set_pin(0x13);    // no change
            set_pin(0x40000); // a change, but of the control register
            vc.waitUntil(start + 350 * NS_PER_MS);
            set_pin(0xFF);
            vc.waitUntil(start + 351 * NS_PER_MS);
            clear_pin(0xFF);
        });
        const QStringList lines = out.split('\n');
        QCOMPARE(portsim::writes().back().time, start + 351 * NS_PER_MS);

        const QRegularExpression format("^( *\\d+\\.\\d{6})  (.)  (0x[0-9a-f]{2})$");
        const QStringList cells{QString(QChar(0x2813)), QString(QChar(0x28FF)),
                                QString(QChar(0x2800))};
        const QStringList hex{"0x13", "0xff", "0x00"};
        QCOMPARE(lines.size(), 4); // three lines and the empty rest
        QCOMPARE(lines.last(), QString());
        QList<double> times;
        for (int i = 0; i < 3; ++i) {
            const QRegularExpressionMatch m = format.match(lines[i]);
            QVERIFY2(m.hasMatch(), qPrintable(lines[i]));
            QCOMPARE(m.captured(1).size(), 12);
            QCOMPARE(m.captured(2), cells[i]);
            QCOMPARE(m.captured(3), hex[i]);
            times << m.captured(1).toDouble();
        }
        // Seconds since start, counted on the same time line as the writes.
        QVERIFY(times[0] >= 0.1 && times[0] < 0.1 + 600);
        QCOMPARE(qRound64((times[1] - times[0]) * 1e6), 250000);
        QCOMPARE(qRound64((times[2] - times[1]) * 1e6), 1000);
    }
};

QTEST_MAIN(TestPins)
#include "tst_pins.moc"
