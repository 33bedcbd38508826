#include "output_capture.h"
#include "pins.h"
#include "portio.h"
#include "portio_linux.h"
#include "portio_ppdev.h"
#include "pport.h"
#include "termination.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

// Everything here runs against recording fakes of the device calls and of the
// direct way: no test touches /dev/parport* or ioperm.

namespace
{

// One trace of every call, device and direct, e.g. "open=/dev/parport0 WDATA=13 ioperm=378".
using Refusals = QMap<QString, int>; // call ("open", "CLAIM", "ioperm", ...) -> errno
struct Fake {
    QStringList trace;
    Refusals refused;
    int fd = 6; // the descriptor handed out last
};
Fake fake;

const std::map<unsigned long, QString> REQUEST{
    {PPEXCL, "EXCL"},         {PPCLAIM, "CLAIM"},       {PPRELEASE, "RELEASE"},
    {PPWDATA, "WDATA"},       {PPRDATA, "RDATA"},       {PPRSTATUS, "RSTATUS"},
    {PPWCONTROL, "WCONTROL"}, {PPRCONTROL, "RCONTROL"}, {PPDATADIR, "DATADIR"}};
// What the device's registers read.
const std::map<unsigned long, unsigned char> READS{
    {PPRDATA, 0x5a}, {PPRSTATUS, 0x78}, {PPRCONTROL, 0xcc}};

QString hex(unsigned value)
{
    return QString("%1").arg(value, 2, 16, QChar('0'));
}

// Records `entry`; false (with errno set) when it is to fail.
bool call(const QString& name, const QString& entry)
{
    fake.trace << entry;
    errno = fake.refused.value(name);
    return errno == 0;
}

int fakeOpen(const char* path, int flags)
{
    const QString wrongFlags = flags == (O_RDWR | O_CLOEXEC) ? "" : "(wrong flags)";
    return call("open", QString("open=") + path + wrongFlags) ? ++fake.fd : -1;
}

int fakeIoctl(int fd, unsigned long request, void* argument)
{
    auto* byte = static_cast<unsigned char*>(argument);
    const QString name = REQUEST.at(request);
    QString entry = name + (fd == fake.fd ? "" : "(another fd)");
    if (request == PPWDATA || request == PPWCONTROL)
        entry += '=' + hex(*byte);
    if (request == PPDATADIR)
        entry += '=' + QString::number(*static_cast<int*>(argument));
    if (!call(name, entry))
        return -1;
    if (READS.count(request))
        *byte = READS.at(request);
    return 0;
}

const ppdev::DeviceCalls fakeDevice{fakeOpen, fakeIoctl, [](int fd) {
                                        return call("close", QString("close=%1").arg(fd)) ? 0 : -1;
                                    }};

const portio_linux::DirectCalls fakeDirect{
    [](unsigned base) { return call("ioperm", QString("ioperm=%1").arg(base, 0, 16)) ? 0 : -1; },
    [](unsigned address) {
        fake.trace << QString("inb=%1").arg(address, 0, 16);
        return std::uint8_t(0x42);
    },
    [](std::uint8_t value, unsigned address) {
        fake.trace << QString("outb=%1@%2").arg(hex(value)).arg(address, 0, 16);
    }};

void installFakes()
{
    fake = Fake();
    ppdev::setDeviceCalls(&fakeDevice);
    portio_linux::setDirectCalls(&fakeDirect);
}

const char SIGNAL_CHILD_ARGUMENT[] = "--terminated-child";

} // namespace

class TestPpdev : public QObject
{
    Q_OBJECT

private slots:
    void init() { installFakes(); }
    void cleanup()
    {
        ppdev::release();
        pin_layer_reset();
        ppdev::setDeviceCalls(nullptr);
        portio_linux::setDirectCalls(nullptr);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // Each step of `script` may give an output word:
    //   c378   portio_claim(0x378): "0" or "-1" (errno then the direct way's)
    //   i378   initializeParallelPort(0x378): "-1" when refused (error the direct way's)
    //   w2:20  portio_write(0x20, base + 2), base being the one claimed last
    //   r0     portio_read(base + 0): the value in hex
    //   s09    set_pin(0x09); x09 clear_pin(0x09)
    // The device reads data 0x5a, status 0x78, control 0xcc; the direct way reads 0x42.
    void script_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("outputs");
        QTest::addColumn<Refusals>("refused");
        QTest::addColumn<QByteArray>("message"); // the refusal's lines, then standard error
        const auto row = [](const char* name, const char* script, const char* trace,
                            const char* outputs, const Refusals& refused = {},
                            const char* message = "") {
            QTest::newRow(name) << QString(script) << QString(trace) << QString(outputs) << refused
                                << QByteArray(message);
        };
        const auto after = [](const char* trace) {
            return QByteArray("open=/dev/parport0 EXCL CLAIM ") + trace;
        };

        // Claims: device first, direct I/O second.
        row("LPT1 by the device", "c378 w0:13 r1", after("WDATA=13 RSTATUS"), "0 78");
        row("lp holds the port: direct", "c378 w0:13 r1",
            after("close=7 ioperm=378 outb=13@378 inb=379"), "0 42", {{"CLAIM", ENXIO}});
        row("no device node, no direct", "c378 w0:13 r1", "open=/dev/parport0 ioperm=378", "-1 00",
            {{"open", ENOENT}, {"ioperm", ENOSYS}},
            "can't open /dev/parport0: No such file or directory (no such port, or the ppdev "
            "driver is not loaded: sudo modprobe ppdev)\n");
        row("not in group lp", "c378", "open=/dev/parport0 ioperm=378", "-1",
            {{"open", EACCES}, {"ioperm", EPERM}},
            "can't open /dev/parport0: Permission denied (the user must be in group lp)\n");
        row("lp holds the port, no direct", "c378", after("close=7 ioperm=378"), "-1",
            {{"CLAIM", ENXIO}, {"ioperm", ENOSYS}},
            "can't open /dev/parport0: No such device or address (another driver, usually lp, "
            "holds the port)\n");
        row("exclusive access refused", "c378", "open=/dev/parport0 EXCL close=7 ioperm=378", "-1",
            {{"EXCL", EBUSY}, {"ioperm", ENOSYS}},
            "can't open /dev/parport0: Device or resource busy (another driver, usually lp, holds "
            "the port)\n");
        row("the held port again: kept", "c378 c378 w0:13", after("WDATA=13"), "0 0");
        row("another port: the first let go before", "c378 c278 w0:13",
            after("RELEASE close=7 open=/dev/parport1 EXCL CLAIM WDATA=13"), "0 0");
        row("a base without a device lets the held one go", "c378 c3bc w0:13",
            after("RELEASE close=7 ioperm=3bc"), "0 -1", {{"ioperm", ENOSYS}},
            "no parport device for base 0x3bc\n");

        // Registers through the device.
        row("direction unknown: data read from the device", "c378 w0:13 r0 r0",
            after("WDATA=13 RDATA RDATA"), "0 5a 5a");
        row("outputs: a read after a write costs no call", "c378 w2:00 w0:13 r0 w0:12 r0",
            after("WCONTROL=00 DATADIR=0 WDATA=13 WDATA=12"), "0 13 12");
        row("inputs: every data read goes to the device", "c378 w2:20 w0:13 r0 r0",
            after("WCONTROL=00 DATADIR=1 WDATA=13 RDATA RDATA"), "0 5a 5a");
        row("back to outputs: the input value read once, then kept", "c378 w2:20 r0 w2:00 r0 r0",
            after("WCONTROL=00 DATADIR=1 RDATA WCONTROL=00 DATADIR=0 RDATA"), "0 5a 5a 5a");
        row("status read, never written", "c378 r1 w1:ff", after("RSTATUS"), "0 78");
        row("direction only when it changes; control bits 4, 6, 7 dropped",
            "c378 w2:d4 w2:05 w2:25 w2:21 w2:01",
            after("WCONTROL=04 DATADIR=0 WCONTROL=05 WCONTROL=05 DATADIR=1 WCONTROL=01 "
                  "WCONTROL=01 DATADIR=0"),
            "0");
        row("control read: lines from the device, direction from the last setting",
            "c378 r2 w2:20 r2 w2:00 r2",
            after("RCONTROL WCONTROL=00 DATADIR=1 RCONTROL WCONTROL=00 DATADIR=0 RCONTROL"),
            "0 0c 2c 0c");
        row("addresses outside the port", "c378 w3:ff r3 w-1:ff r-1", after("").trimmed(),
            "0 00 00");
        row("failed accesses: one line, read 0, nothing remembered", "c378 w2:00 w0:13 w0:00 r1 r0",
            after("WCONTROL=00 DATADIR=0 WDATA=13 WDATA=00 RSTATUS RDATA"), "0 00 5a",
            {{"WDATA", EIO}, {"RSTATUS", EIO}}, "can't access /dev/parport0: Input/output error\n");

        // The whole refusal, as the program tells it.
        row("set-up refused", "i378", after("close=7 ioperm=378"), "-1",
            {{"CLAIM", ENXIO}, {"ioperm", ENOSYS}},
            "can't open /dev/parport0: No such device or address (another driver, usually lp, "
            "holds the port)\ncan't get IO permissions!: Function not implemented\n"
            "PARALLEL PORT NOT FOUND\n");

        // Through the pin layer a cell is raised and lowered with one system call each.
        row("cells", "i378 s09 s30 x09",
            after("RCONTROL WCONTROL=0c DATADIR=0 RCONTROL WCONTROL=0c RDATA WDATA=00 WDATA=09 "
                  "WDATA=39 WDATA=30"),
            "");
    }
    void script()
    {
        QFETCH(QString, script);
        QFETCH(Refusals, refused);
        fake.refused = refused;
        QStringList outputs;
        std::vector<std::string> lines;
        unsigned base = 0;
        const QByteArray printed = capturedOutput(stderr, [&] {
            for (const QString& step : script.split(' ')) {
                const int value = step.mid(1).section(':', -1).toInt(nullptr, 16);
                const unsigned address = base + step.mid(1).section(':', 0, 0).toInt();
                switch (step[0].toLatin1()) {
                case 'c': {
                    const int result = portio_claim(base = unsigned(value), lines);
                    const bool reasonKept = result == 0 || errno == refused.value("ioperm");
                    outputs << QString::number(result) + (reasonKept ? "" : "(wrong errno)");
                    break;
                }
                case 'i':
                    if (const auto refusal = initializeParallelPort(int(base = unsigned(value)))) {
                        lines = refusal->lines;
                        const bool reasonKept = refusal->error == refused.value("ioperm");
                        outputs << QString("-1") + (reasonKept ? "" : "(wrong error)");
                    }
                    break;
                case 'w':
                    portio_write(std::uint8_t(value), address);
                    break;
                case 'r':
                    outputs << hex(portio_read(address));
                    break;
                default:
                    (step[0] == 's' ? set_pin : clear_pin)(value);
                }
            }
        });
        QTEST(fake.trace.join(' '), "trace");
        QTEST(outputs.join(' '), "outputs");
        QByteArray message;
        for (const std::string& line : lines)
            message += QByteArray::fromStdString(line) + '\n';
        QTEST(message + printed, "message");
    }

    // A terminating signal while a cell is raised: the handler lowers the
    // lines with the one ioctl, reports nothing even when that fails (stdio
    // is not safe there), and the process ends with the signal's own status.
    void terminationLowersLines_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("lowered") << QString();
        QTest::newRow("lowering refused") << "EIO";
    }
    void terminationLowersLines()
    {
        QFETCH(QString, failure);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {SIGNAL_CHILD_ARGUMENT, failure});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(child.exitCode(), SIGTERM);
        QCOMPARE(child.readAllStandardOutput(), QByteArray("WDATA=00\nWDATA=3f\nWDATA=00\n"));
        QCOMPARE(child.readAllStandardError(), QByteArray());
    }
};

int main(int argc, char** argv)
{
    // LPT1 through the device, whose data writes are told on standard output
    // with write(), which a signal handler may call.
    if (argc == 3 && qstrcmp(argv[1], SIGNAL_CHILD_ARGUMENT) == 0) {
        static bool refuseLowering = false;
        static const ppdev::DeviceCalls device{
            [](const char*, int) { return 7; },
            [](int, unsigned long request, void* argument) {
                if (request != PPWDATA)
                    return 0;
                const unsigned value = *static_cast<unsigned char*>(argument);
                char line[] = "WDATA=00\n";
                line[6] = "0123456789abcdef"[value >> 4];
                line[7] = "0123456789abcdef"[value & 0xF];
                if (write(STDOUT_FILENO, line, sizeof line - 1) < 0 || refuseLowering) {
                    errno = EIO;
                    return -1;
                }
                return 0;
            },
            [](int) { return 0; }};
        ppdev::setDeviceCalls(&device);
        if (initializeParallelPort(LPT1_BASE))
            return 2;
        lowerDataLinesOnTermination();
        set_pin(0x3F);
        refuseLowering = qstrcmp(argv[2], "EIO") == 0;
        std::raise(SIGTERM);
        return 3;
    }
    QApplication app(argc, argv);
    TestPpdev test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ppdev.moc"
