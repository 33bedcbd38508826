#include "pins.h"
#include "portio.h"
#include "portio_linux.h"
#include "portio_ppdev.h"
#include "pport.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

// Everything here runs against recording fakes of the device calls and of the
// direct way: no test touches /dev/parport* or ioperm.

namespace
{

// ---- The fake parport device -------------------------------------------------

struct Device {
    QStringList trace; // one entry per call, e.g. "open /dev/parport0 rw cloexec", "WDATA 13"
    int openError = 0; // errno for open, 0 to accept
    std::map<unsigned long, int> ioctlErrors; // request -> errno
    int nextFd = 7;
    unsigned char data = 0x5a, status = 0x78, control = 0xcc; // what the reads give
};
Device device;

QString requestName(unsigned long request)
{
    static const std::map<unsigned long, QString> names{
        {PPEXCL, "EXCL"},         {PPCLAIM, "CLAIM"},       {PPRELEASE, "RELEASE"},
        {PPWDATA, "WDATA"},       {PPRDATA, "RDATA"},       {PPRSTATUS, "RSTATUS"},
        {PPWCONTROL, "WCONTROL"}, {PPRCONTROL, "RCONTROL"}, {PPDATADIR, "DATADIR"}};
    const auto name = names.find(request);
    return name == names.end() ? QString::number(request, 16) : name->second;
}

int fakeOpen(const char* path, int flags)
{
    QString entry = QString("open %1").arg(path);
    if ((flags & O_ACCMODE) == O_RDWR)
        entry += " rw";
    if (flags & O_CLOEXEC)
        entry += " cloexec";
    if (flags & ~(O_ACCMODE | O_CLOEXEC))
        entry += " other-flags";
    device.trace << entry;
    if (device.openError) {
        errno = device.openError;
        return -1;
    }
    return device.nextFd++;
}

int fakeIoctl(int fd, unsigned long request, void* argument)
{
    QString entry = requestName(request);
    auto* byte = static_cast<unsigned char*>(argument);
    switch (request) {
    case PPWDATA:
    case PPWCONTROL:
        entry += QString(" %1").arg(*byte, 2, 16, QChar('0'));
        break;
    case PPDATADIR:
        entry += QString(" %1").arg(*static_cast<int*>(argument));
        break;
    default:
        break;
    }
    if (fd != device.nextFd - 1) // not the descriptor opened last
        entry += QString(" on fd %1").arg(fd);
    device.trace << entry;
    const auto refused = device.ioctlErrors.find(request);
    if (refused != device.ioctlErrors.end()) {
        errno = refused->second;
        return -1;
    }
    switch (request) {
    case PPRDATA:
        *byte = device.data;
        break;
    case PPRSTATUS:
        *byte = device.status;
        break;
    case PPRCONTROL:
        *byte = device.control;
        break;
    default:
        break;
    }
    return 0;
}

int fakeClose(int fd)
{
    device.trace << QString("close %1").arg(fd);
    return 0;
}

const ppdev::DeviceCalls fakeDevice{fakeOpen, fakeIoctl, fakeClose};

// ---- The fake direct way -----------------------------------------------------

struct Direct {
    QStringList trace;
    int claimError = 0;
};
Direct direct;

int fakeDirectClaim(unsigned base)
{
    direct.trace << QString("ioperm %1").arg(base, 0, 16);
    if (direct.claimError) {
        errno = direct.claimError;
        return -1;
    }
    return 0;
}

std::uint8_t fakeDirectRead(unsigned address)
{
    direct.trace << QString("inb %1").arg(address, 0, 16);
    return 0x42;
}

void fakeDirectWrite(std::uint8_t value, unsigned address)
{
    direct.trace << QString("outb %1 %2").arg(value, 2, 16, QChar('0')).arg(address, 0, 16);
}

const portio_linux::DirectCalls fakeDirect{fakeDirectClaim, fakeDirectRead, fakeDirectWrite};

void installFakes()
{
    device = Device();
    direct = Direct();
    ppdev::setDeviceCalls(&fakeDevice);
    portio_linux::setDirectCalls(&fakeDirect);
}

// Collects what is written on file descriptor 2 while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        file.open();
        saved = dup(STDERR_FILENO);
        dup2(file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    QByteArray text()
    {
        restore();
        file.seek(0);
        return file.readAll();
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};

const char CHILD_ARGUMENT[] = "--refused-port-child";

// Child process: claims LPT1 with the device refused in the way named by
// `how` and the direct way refused with ENOSYS, as on a machine without
// /dev/parport0 and without kernel I/O-port support.
int refusedPortChild(const QByteArray& how)
{
    installFakes();
    direct.claimError = ENOSYS;
    if (how == "open-ENOENT")
        device.openError = ENOENT;
    else if (how == "claim-ENXIO")
        device.ioctlErrors[PPCLAIM] = ENXIO;
    initializeParallelPort(LPT1_BASE);
    return 0; // reached only when the claim wrongly succeeded
}

} // namespace

class TestPpdev : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void claimSequence_data();
    void claimSequence();
    void refusedClaim_data();
    void refusedClaim();
    void baseWithoutDevice();
    void claimAgain();
    void registers_data();
    void registers();
    void failedAccessReportedOnce();
    void claimOrder_data();
    void claimOrder();
    void edgeIsOneIoctl();
    void refusedPortEndsProgram_data();
    void refusedPortEndsProgram();
};

void TestPpdev::init()
{
    installFakes();
}

void TestPpdev::cleanup()
{
    ppdev::release();
    pin_layer_reset();
    ppdev::setDeviceCalls(nullptr);
    portio_linux::setDirectCalls(nullptr);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestPpdev::claimSequence_data()
{
    QTest::addColumn<unsigned>("base");
    QTest::addColumn<QString>("path");
    QTest::newRow("LPT1") << 0x378u << "/dev/parport0";
    QTest::newRow("LPT2") << 0x278u << "/dev/parport1";
}

void TestPpdev::claimSequence()
{
    QFETCH(unsigned, base);
    QFETCH(QString, path);
    QCOMPARE(ppdev::claim(base), 0);
    QVERIFY(ppdev::claimed());
    QCOMPARE(device.trace, QStringList({"open " + path + " rw cloexec", "EXCL", "CLAIM"}));
    // Held, not closed, and the registers are reached from that base.
    ppdev::write(0x13, base);
    QCOMPARE(device.trace.last(), QString("WDATA 13"));
}

void TestPpdev::refusedClaim_data()
{
    QTest::addColumn<int>("openError");
    QTest::addColumn<unsigned long>("refusedIoctl");
    QTest::addColumn<int>("ioctlError");
    QTest::addColumn<QStringList>("trace");
    QTest::addColumn<QString>("message");
    const QString open = "open /dev/parport0 rw cloexec";
    QTest::newRow("no device node") << ENOENT << 0ul << 0 << QStringList{open}
                                    << "can't open /dev/parport0: No such file or directory";
    QTest::newRow("not in group lp")
        << EACCES << 0ul << 0 << QStringList{open}
        << "can't open /dev/parport0: Permission denied (the user must be in group lp)";
    QTest::newRow("lp holds the port")
        << 0 << static_cast<unsigned long>(PPCLAIM) << ENXIO
        << QStringList{open, "EXCL", "CLAIM", "close 7"}
        << "can't open /dev/parport0: No such device or address (another driver, usually lp, "
           "holds the port)";
    QTest::newRow("exclusive access refused")
        << 0 << static_cast<unsigned long>(PPEXCL) << EBUSY << QStringList{open, "EXCL", "close 7"}
        << "can't open /dev/parport0: Device or resource busy (another driver, usually lp, holds "
           "the port)";
}

void TestPpdev::refusedClaim()
{
    QFETCH(int, openError);
    QFETCH(unsigned long, refusedIoctl);
    QFETCH(int, ioctlError);
    QFETCH(QStringList, trace);
    QFETCH(QString, message);
    device.openError = openError;
    if (ioctlError)
        device.ioctlErrors[refusedIoctl] = ioctlError;
    errno = 0;
    QCOMPARE(ppdev::claim(0x378), -1);
    const int error = errno;
    QCOMPARE(error, openError ? openError : ioctlError);
    QCOMPARE(device.trace, trace);
    QVERIFY(!ppdev::claimed());
    QCOMPARE(QString::fromStdString(ppdev::refusal(0x378, error)), message);
    // Nothing is held, so nothing is accessed.
    device.trace.clear();
    ppdev::write(0xff, 0x378);
    QCOMPARE(ppdev::read(0x379), std::uint8_t(0));
    QVERIFY(device.trace.isEmpty());
}

void TestPpdev::baseWithoutDevice()
{
    errno = 0;
    QCOMPARE(ppdev::claim(0x3bc), -1);
    const int error = errno;
    QCOMPARE(error, ENODEV);
    QVERIFY(device.trace.isEmpty());
    QCOMPARE(ppdev::refusal(0x3bc, ENODEV), std::string("no parport device for base 0x3bc"));
}

void TestPpdev::claimAgain()
{
    QCOMPARE(ppdev::claim(0x378), 0);
    // The same port again keeps what is held: a second exclusive claim would fail.
    QCOMPARE(ppdev::claim(0x378), 0);
    QCOMPARE(device.trace.size(), 3);
    // Another port: the first is released and closed before the second is opened.
    QCOMPARE(ppdev::claim(0x278), 0);
    QCOMPARE(device.trace.mid(3),
             QStringList({"RELEASE", "close 7", "open /dev/parport1 rw cloexec", "EXCL", "CLAIM"}));
    // A port without a device still lets the held one go.
    QCOMPARE(ppdev::claim(0x3bc), -1);
    QCOMPARE(device.trace.mid(8), QStringList({"RELEASE", "close 8"}));
    QVERIFY(!ppdev::claimed());
}

// A script of register accesses relative to the base, e.g. "w2:20 r0": write
// 0x20 to the control register, read the data register. The fake device's
// registers read 0x5a (data), 0x78 (status), 0xcc (control).
void TestPpdev::registers_data()
{
    QTest::addColumn<unsigned>("base");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("trace");
    QTest::addColumn<QString>("reads");

    QTest::newRow("data write") << 0x378u << "w0:13" << QStringList{"WDATA 13"} << "";
    QTest::newRow("LPT2 data write") << 0x278u << "w0:a5" << QStringList{"WDATA a5"} << "";
    QTest::newRow("data read before the direction is known goes to the device")
        << 0x378u << "w0:13 r0 r0" << QStringList{"WDATA 13", "RDATA", "RDATA"} << "5a 5a";
    QTest::newRow("outputs: a read after a write costs no call")
        << 0x378u << "w2:00 w0:13 r0 w0:12 r0"
        << QStringList{"WCONTROL 00", "DATADIR 0", "WDATA 13", "WDATA 12"} << "13 12";
    QTest::newRow("outputs: the first read goes to the device, later ones not")
        << 0x378u << "w2:00 r0 r0" << QStringList{"WCONTROL 00", "DATADIR 0", "RDATA"} << "5a 5a";
    QTest::newRow("inputs: every data read goes to the device")
        << 0x378u << "w2:20 w0:13 r0 r0"
        << QStringList{"WCONTROL 00", "DATADIR 1", "WDATA 13", "RDATA", "RDATA"} << "5a 5a";
    QTest::newRow("back to outputs: the input value is not taken for the latch")
        << 0x378u << "w2:20 r0 w2:00 r0 r0"
        << QStringList{"WCONTROL 00", "DATADIR 1", "RDATA", "WCONTROL 00", "DATADIR 0", "RDATA"}
        << "5a 5a 5a";
    QTest::newRow("status read") << 0x378u << "r1" << QStringList{"RSTATUS"} << "78";
    QTest::newRow("status is read-only") << 0x378u << "w1:ff" << QStringList{} << "";
    QTest::newRow("direction only when it changes")
        << 0x378u << "w2:04 w2:05 w2:25 w2:21 w2:01"
        << QStringList{"WCONTROL 04", "DATADIR 0",   "WCONTROL 05", "WCONTROL 05",
                       "DATADIR 1",   "WCONTROL 01", "WCONTROL 01", "DATADIR 0"}
        << "";
    QTest::newRow("control bits 4, 6, 7 are not sent")
        << 0x378u << "w2:d3" << QStringList{"WCONTROL 03", "DATADIR 0"} << "";
    QTest::newRow("control read: lines from the device, direction from the last setting")
        << 0x378u << "r2 w2:20 r2 w2:00 r2"
        << QStringList{"RCONTROL",    "WCONTROL 00", "DATADIR 1", "RCONTROL",
                       "WCONTROL 00", "DATADIR 0",   "RCONTROL"}
        << "0c 2c 0c";
    QTest::newRow("addresses outside the port")
        << 0x378u << "w3:ff r3 w-1:ff r-1" << QStringList{} << "00 00";
}

void TestPpdev::registers()
{
    QFETCH(unsigned, base);
    QFETCH(QString, script);
    QFETCH(QStringList, trace);
    QFETCH(QString, reads);
    QCOMPARE(ppdev::claim(base), 0);
    device.trace.clear();
    QStringList got;
    for (const QString& step : script.split(' ')) {
        const unsigned address = base + step.mid(1).section(':', 0, 0).toInt();
        if (step.startsWith('w'))
            ppdev::write(std::uint8_t(step.section(':', 1).toUInt(nullptr, 16)), address);
        else
            got << QString("%1").arg(ppdev::read(address), 2, 16, QChar('0'));
    }
    QCOMPARE(device.trace, trace);
    QCOMPARE(got.join(' '), reads);
}

void TestPpdev::failedAccessReportedOnce()
{
    QCOMPARE(ppdev::claim(0x378), 0);
    device.ioctlErrors[PPWDATA] = EIO;
    device.ioctlErrors[PPRSTATUS] = EIO;
    StderrCapture capture;
    ppdev::write(0x13, 0x378);
    ppdev::write(0x00, 0x378);
    const std::uint8_t status = ppdev::read(0x379);
    QCOMPARE(capture.text(), QByteArray("can't access /dev/parport0: Input/output error\n"));
    QCOMPARE(status, std::uint8_t(0));
    // A failed write leaves nothing to remember: the next read asks the device.
    device.trace.clear();
    ppdev::read(0x378);
    QCOMPARE(device.trace, QStringList{"RDATA"});
}

// The real program's claim: device first, direct I/O second.
void TestPpdev::claimOrder_data()
{
    QTest::addColumn<unsigned>("base");
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("claimError"); // errno of PPCLAIM, 0 to accept
    QTest::addColumn<int>("directError");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("way");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("device") << 0x378u << 0 << 0 << 0 << 0 << "device" << QByteArray();
    QTest::newRow("device, direct never tried")
        << 0x378u << 0 << 0 << ENOSYS << 0 << "device" << QByteArray();
    QTest::newRow("no device node: direct")
        << 0x378u << ENOENT << 0 << 0 << 0 << "direct" << QByteArray();
    QTest::newRow("lp holds the port: direct")
        << 0x378u << 0 << ENXIO << 0 << 0 << "direct" << QByteArray();
    QTest::newRow("both refused") << 0x378u << ENOENT << 0 << ENOSYS << -1 << "none"
                                  << QByteArray(
                                         "can't open /dev/parport0: No such file or directory\n");
    QTest::newRow("LPT2 both refused")
        << 0x278u << EACCES << 0 << EPERM << -1 << "none"
        << QByteArray("can't open /dev/parport1: Permission denied (the user must be in group "
                      "lp)\n");
}

void TestPpdev::claimOrder()
{
    QFETCH(unsigned, base);
    QFETCH(int, openError);
    QFETCH(int, claimError);
    QFETCH(int, directError);
    QFETCH(int, result);
    QFETCH(QString, way);
    QFETCH(QByteArray, message);
    device.openError = openError;
    if (claimError)
        device.ioctlErrors[PPCLAIM] = claimError;
    direct.claimError = directError;

    StderrCapture capture;
    errno = 0;
    QCOMPARE(portio_claim(base), result);
    const int error = errno;
    QCOMPARE(capture.text(), message);
    QVERIFY(device.trace.value(0).startsWith("open /dev/parport"));

    device.trace.clear();
    const QStringList directTried = direct.trace;
    direct.trace.clear();
    portio_write(0x13, base);
    const std::uint8_t status = portio_read(base + 1);
    if (way == "device") {
        QVERIFY(directTried.isEmpty());
        QCOMPARE(portio_linux::claimedWay(), portio_linux::Way::Device);
        QCOMPARE(device.trace, QStringList({"WDATA 13", "RSTATUS"}));
        QCOMPARE(status, device.status);
        QVERIFY(direct.trace.isEmpty());
    } else {
        QCOMPARE(directTried, QStringList{QString("ioperm %1").arg(base, 0, 16)});
        QVERIFY(device.trace.isEmpty());
        if (way == "direct") {
            QCOMPARE(portio_linux::claimedWay(), portio_linux::Way::Direct);
            QCOMPARE(direct.trace, QStringList({QString("outb 13 %1").arg(base, 0, 16),
                                                QString("inb %1").arg(base + 1, 0, 16)}));
            QCOMPARE(status, std::uint8_t(0x42));
        } else {
            // The caller reports the direct way's reason; no access may follow.
            QCOMPARE(error, directError);
            QCOMPARE(portio_linux::claimedWay(), portio_linux::Way::None);
            QVERIFY(direct.trace.isEmpty());
            QCOMPARE(status, std::uint8_t(0));
        }
    }
}

// Through the pin layer, a cell is raised and lowered with one system call each.
void TestPpdev::edgeIsOneIoctl()
{
    pin_layer_reset();
    initializeParallelPort(LPT1_BASE);
    QCOMPARE(portio_linux::claimedWay(), portio_linux::Way::Device);
    // Set-up made the data lines outputs and lowered them.
    QVERIFY(device.trace.contains("DATADIR 0"));
    QCOMPARE(device.trace.last(), QString("WDATA 00"));

    device.trace.clear();
    set_pin(0x09);
    QCOMPARE(device.trace, QStringList{"WDATA 09"});
    set_pin(0x30);
    QCOMPARE(device.trace, QStringList({"WDATA 09", "WDATA 39"}));
    clear_pin(0x09);
    QCOMPARE(device.trace, QStringList({"WDATA 09", "WDATA 39", "WDATA 30"}));
}

void TestPpdev::refusedPortEndsProgram_data()
{
    QTest::addColumn<QByteArray>("how");
    QTest::addColumn<QByteArray>("firstLine");
    QTest::newRow("no device node")
        << QByteArray("open-ENOENT")
        << QByteArray("can't open /dev/parport0: No such file or directory");
    QTest::newRow("lp holds the port")
        << QByteArray("claim-ENXIO")
        << QByteArray("can't open /dev/parport0: No such device or address (another driver, "
                      "usually lp, holds the port)");
}

void TestPpdev::refusedPortEndsProgram()
{
    QFETCH(QByteArray, how);
    QFETCH(QByteArray, firstLine);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {CHILD_ARGUMENT, QString(how)});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);
    QCOMPARE(child.readAllStandardError(), firstLine + "\ncan't get IO permissions!: Function not "
                                                       "implemented\nPARALLEL PORT NOT FOUND\n");
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], CHILD_ARGUMENT) == 0)
        return refusedPortChild(argv[2]);
    QApplication app(argc, argv);
    TestPpdev test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ppdev.moc"
