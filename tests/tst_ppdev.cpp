#include "interrupt.h"
#include "nubtactile.h"
#include "output_capture.h"
#include "pins.h"
#include "portio.h"
#include "portio_linux.h"
#include "portio_ppdev.h"
#include "pport.h"
#include "synchronisation.h"
#include "termination.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>

// The real program's way to the port, and the pin layer on top of it, against
// recording fakes of the device and direct calls: no test touches
// /dev/parport* or ioperm. The device reads data 0x5a, status 0x78 and
// control 0xcc; the direct way reads 0x42.

namespace
{

using Refusals = QMap<QString, int>; // call ("open", "CLAIM", "ioperm", ...) -> errno
QStringList trace;                   // every call, e.g. "open=/dev/parport0 WDATA=13 ioperm=378"
Refusals refused;
// What the direct way's registers keep of what was written to them; a port
// that is not there ("latch" refused) keeps nothing and reads 0x42.
QMap<unsigned, std::uint8_t> latched;
// The kernel's list of ports, as in the emulated PC whose firmware lists the
// port at 0x278 first.
std::vector<ppdev::ListedPort> listed;
const std::vector<ppdev::ListedPort> EMULATED_PC{{0, 0x278}, {1, 0x378}};
bool echo = false; // each call also told on standard error (the child process)

const std::map<unsigned long, QString> REQUEST{
    {PPEXCL, "EXCL"},         {PPCLAIM, "CLAIM"},       {PPRELEASE, "RELEASE"},
    {PPWDATA, "WDATA"},       {PPRDATA, "RDATA"},       {PPRSTATUS, "RSTATUS"},
    {PPWCONTROL, "WCONTROL"}, {PPRCONTROL, "RCONTROL"}, {PPDATADIR, "DATADIR"}};
const std::map<unsigned long, unsigned char> READS{
    {PPRDATA, 0x5a}, {PPRSTATUS, 0x78}, {PPRCONTROL, 0xcc}};

// Records `entry`; -1 with errno set when the call `name` is refused (from
// its n-th time on for a refusal named "<name>><n-1>", only the n-th time for
// "<name>=<n>"), else `result`.
int call(const QString& name, const QString& entry, int result = 0)
{
    trace << entry;
    if (echo)
        std::fprintf(stderr, "%s\n", qPrintable(entry));
    errno = refused.value(name);
    const int count = int(trace.filter(name).size());
    for (auto later = refused.begin(); later != refused.end(); ++later)
        if ((later.key().startsWith(name + '>') && count > later.key().section('>', 1).toInt()) ||
            later.key() == name + '=' + QString::number(count))
            errno = later.value();
    return errno ? -1 : result;
}

int fakeIoctl(int /*fd*/, unsigned long request, void* argument)
{
    auto* byte = static_cast<unsigned char*>(argument);
    QString entry = REQUEST.at(request);
    if (request == PPWDATA || request == PPWCONTROL)
        entry += QString::asprintf("=%02x", *byte);
    if (request == PPDATADIR)
        entry += '=' + QString::number(*static_cast<int*>(argument));
    if (READS.count(request))
        *byte = READS.at(request);
    return call(REQUEST.at(request), entry);
}

// The device comes as descriptor 0, as it does when the program was started
// with standard input closed.
const ppdev::DeviceCalls DEVICE{
    [] { return listed; },
    [](const char* path, int) { return call("open", "open=" + QString(path), 0); }, fakeIoctl,
    [](int) { return call("close", "close"); }};

const portio_linux::DirectCalls DIRECT{
    [](unsigned base) { return call("ioperm", "ioperm=" + QString::number(base, 16)); },
    [](unsigned a) {
        return std::uint8_t(call("", QString::asprintf("inb=%x", a), latched.value(a, 0x42)));
    },
    [](std::uint8_t v, unsigned a) {
        call("", QString::asprintf("outb=%02x@%x", v, a));
        if (!refused.contains("latch"))
            latched[a] = v;
    }};

} // namespace

class TestPpdev : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ppdev::setDeviceCalls(&DEVICE);
        portio_linux::setDirectCalls(&DIRECT);
    }
    void init()
    {
        trace.clear();
        latched.clear();
        listed = EMULATED_PC;
    }
    void cleanup()
    {
        pin_layer_reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // The calls each step of `script` makes, with its result after "=", then
    // after " | " the refusal's lines and what went to standard error. Steps,
    // numbers in hex but registers:
    //   c378   portio_claim(0x378)            i378  initializeParallelPort(0x378)
    //   w2:20  portio_write(0x20, base + 2)   r0    portio_read(base + 0)
    //   s09    set_pin(0x09)                  l09   clear_pin(0x09)
    //   pf800  pin_is_set(0xf800)             x     a send of "ab", 1 ms a cell
    //                                                and the trigger; x11 also
    //                                                watches answer pin 11
    void script_data()
    {
        QTest::addColumn<Refusals>("refused");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const Refusals& refused, const char* script,
                            const QString& expected) {
            QTest::newRow(name) << refused << QString(script) << expected;
        };
        const QString open = "open=/dev/parport1 EXCL CLAIM ";

        // Claims: device first, direct I/O second.
        row("LPT1 by the device at its address", {}, "c378 w0:13 r1 d",
            open + "=0 WDATA=13 RSTATUS =78 [LPT: /dev/parport1 at 0x378]");
        const QString look = "ioperm=378 inb=37a outb=42@37a outb=00@378 inb=378 ";
        row("lp holds the port: direct, once the port answers", {{"CLAIM", ENXIO}},
            "c378 w0:13 r1 d",
            open + "close " + look + "=0 outb=13@378 inb=379 =42 [LPT: direct I/O at 0x378]");
        row("direct I/O permitted, but no port answers", {{"CLAIM", ENXIO}, {"latch", 1}}, "c378 d",
            open + "close " + look +
                "=-1 [] | can't open /dev/parport1: No such device or "
                "address (another program, possibly another NUBTactile, or the printer driver "
                "lp holds the port)\nno port answers at 0x378 (its data register does not "
                "keep what is written)\n");
        row("no port listed, no direct", {{"ioperm", EPERM}}, "n c378 d",
            "ioperm=378 =-1 [] | no parport device for 0x378 (the kernel lists no parallel "
            "port)\n");
        row("no device node, no direct", {{"open", ENOENT}, {"ioperm", ENOSYS}}, "c378 w0:13 r1",
            "open=/dev/parport1 ioperm=378 =-1 =00 | can't open /dev/parport1: No such file or "
            "directory (no such port, or the ppdev driver is not loaded: sudo modprobe ppdev)\n");
        row("not in group lp", {{"open", EACCES}, {"ioperm", EPERM}}, "c378",
            "open=/dev/parport1 ioperm=378 =-1 | can't open /dev/parport1: Permission denied (the "
            "user must be in group lp)\n");
        row("exclusive access refused", {{"EXCL", EBUSY}, {"ioperm", ENOSYS}}, "c378",
            "open=/dev/parport1 EXCL close ioperm=378 =-1 | can't open /dev/parport1: Device or "
            "resource busy (another program, possibly another NUBTactile, or the printer "
            "driver lp holds the port)\n");
        row("set-up refused", {{"CLAIM", ENXIO}, {"ioperm", ENOSYS}}, "i378",
            open + "close ioperm=378 =38 | can't open /dev/parport1: No such device or address "
                   "(another program, possibly another NUBTactile, or the printer driver lp "
                   "holds the port)\ncan't get IO permissions!: "
                   "Function not implemented\nPARALLEL PORT NOT FOUND\n");
        row("the held port kept; another let go before; one without a device", {{"ioperm", ENOSYS}},
            "c378 c378 w0:13 c278 w0:13 c3bc w0:13 r0",
            open +
                "=0 =0 WDATA=13 RELEASE close open=/dev/parport0 EXCL CLAIM =0 WDATA=13 "
                "RELEASE close ioperm=3bc =-1 =00 | no parport device for 0x3bc (the kernel lists "
                "only parport0 at 0x278, parport1 at 0x378)\n");

        // Registers through the device.
        row("control: direction only when it changes, bits 4, 6, 7 dropped; status read only", {},
            "c378 r2 w2:d4 w2:05 r2 w2:25 r2 w2:21 w2:01 r1 w1:ff w3:ff r3 w-1:ff r-1",
            open + "=0 RCONTROL =0c WCONTROL=04 DATADIR=0 WCONTROL=05 RCONTROL =0c WCONTROL=05 "
                   "DATADIR=1 RCONTROL =2c WCONTROL=01 WCONTROL=01 DATADIR=0 RSTATUS =78 =00 =00");

        // The port object: each edge one write, registers read only when
        // not known, in positive logic.
        const QString setUp = open + "RCONTROL WCONTROL=0c DATADIR=0 WDATA=00 ";
        row("cells; control pins 1, 16, 17; status pins", {},
            "i378 s09 s30 l09 lff l10000 l40000 s80000 pf8ff",
            setUp + "WDATA=09 WDATA=39 WDATA=30 WDATA=00 WCONTROL=0d WCONTROL=09 WCONTROL=01 "
                    "RSTATUS =f800");
        row("set-up failed: refused, the device let go", {{"WCONTROL", EIO}}, "i378 s01 d",
            setUp + "RELEASE close =5 [] | can't access /dev/parport1: Input/output error\n"
                    "PARALLEL PORT NOT FOUND\n");
        row("failed accesses: the first kept, nothing printed, read 0, the data lines read again",
            {{"WDATA>1", EIO}, {"RSTATUS", ENODEV}}, "i378 s13 s04 pf800 f",
            setUp + "WDATA=13 RDATA WDATA=5e RSTATUS =0 [can't access /dev/parport1: "
                    "Input/output error]");
        row("a send failing at a lowering ends there, lowered again; the next send plays",
            {{"WDATA=3", EIO}}, "i378 x f x f",
            setUp + "WDATA=3f WDATA=00 WDATA=00 =port failed [can't access /dev/parport1: "
                    "Input/output error] WDATA=3f WDATA=00 WDATA=01 WDATA=00 WDATA=03 WDATA=00 "
                    "=completed []");
        row("a failed reading of a watched pin ends the send before the trigger",
            {{"RSTATUS", EIO}}, "i378 x11", setUp + "RSTATUS WDATA=00 =port failed");
    }
    void script()
    {
        QFETCH(Refusals, refused);
        QFETCH(QString, script);
        ::refused = refused;
        std::vector<std::string> lines;
        std::optional<PortRefusal> refusal;
        unsigned base = 0;
        const QByteArray printed = capturedOutput(stderr, [&] {
            for (const QString& step : script.split(' ')) {
                const unsigned number = unsigned(step.mid(1).section(':', -1).toInt(nullptr, 16));
                const unsigned first = unsigned(step.mid(1).section(':', 0, 0).toInt());
                const char verb = step[0].toLatin1();
                if (verb == 'c')
                    trace << '=' + QString::number(portio_claim(base = number, lines));
                if (verb == 'i' && (refusal = initializeParallelPort(int(base = number))))
                    trace << '=' + QString::number(refusal->error);
                if (verb == 'w')
                    portio_write(std::uint8_t(number), base + first);
                std::uint8_t value = 0;
                if (verb == 'r' && portio_read(base + first, value) == 0)
                    trace << QString::asprintf("=%02x", value);
                if (verb == 's')
                    set_pin(int(number));
                if (verb == 'l')
                    clear_pin(int(number));
                if (verb == 'p')
                    trace << QString::asprintf("=%x", pin_is_set(int(number)));
                if (verb == 'x') {
                    Braille_Data word;
                    word.mode = MODE_TEXT;
                    word.loops = 1;
                    word.charTime = word.triggerTime = 1;
                    setWord(word, "ab");
                    TransmissionObserver quiet;
                    Synchronisation answers; // no response window after the cells
                    if (first)
                        answers.answerPins = {int(first)};
                    answers.responseWindowMs = 0;
                    const Outcome ended = sendToParallelPort(word, quiet, Interrupt(), answers);
                    trace << (ended == Outcome::PortFailed  ? "=port failed"
                              : ended == Outcome::Completed ? "=completed"
                                                            : "=other");
                }
                if (verb == 'f')
                    trace << QString::fromStdString('[' + portio_failure() + ']');
                if (verb == 'd')
                    trace << QString::fromStdString('[' + portio_driven("LPT") + ']');
                if (verb == 'n')
                    listed.clear();
            }
        });
        QByteArray message;
        for (const std::string& line : refusal ? refusal->lines : lines)
            message += QByteArray::fromStdString(line) + '\n';
        message += printed;
        QTEST(trace.join(' ') + (message.isEmpty() ? "" : " | " + message), "expected");
    }

    // Which of the kernel's devices LPT1 and LPT2 mean, from a folder laid out
    // as /proc/sys/dev/parport: each entry a folder, with its base-addr file
    // when the text is not empty.
    void portFor_data()
    {
        QTest::addColumn<QStringList>("entries"); // "name=base-addr text"
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("one port at 0x378") << QStringList{"parport0=888\t0\n"} << "LPT1 0 LPT2 -";
        QTest::newRow("two, 0x278 listed first") << QStringList{"parport0=632\t0\n", "parport1=888\t0\n"} << "LPT1 1 LPT2 0";
        QTest::newRow("two, 0x378 listed first") << QStringList{"parport0=888\t0\n", "parport1=632\t0\n"} << "LPT1 0 LPT2 1";
        QTest::newRow("a card only") << QStringList{"parport0=53264\t53272\n"} << "LPT1 0 LPT2 -";
        QTest::newRow("on-board 0x378 and a card") << QStringList{"parport0=53264\t53272\n", "parport1=888\t0\n"} << "LPT1 1 LPT2 0";
        QTest::newRow("on-board 0x278 and a card") << QStringList{"parport0=632\t0\n", "parport1=53264\t53272\n"} << "LPT1 1 LPT2 0";
        QTest::newRow("two cards, in the kernel's numeric order") << QStringList{"parport10=4096", "parport2=8192"} << "LPT1 2 LPT2 10";
        QTest::newRow("none; what is not a port left out") << QStringList{"default=", "parport=888", "parportx=888", "parport3=unknown", "parport4="} << "LPT1 - LPT2 -";
        // clang-format on
    }
    void portFor()
    {
        QFETCH(QStringList, entries);
        QTemporaryDir folder;
        for (const QString& entry : entries) {
            const QString name = entry.section('=', 0, 0);
            QVERIFY(QDir(folder.path()).mkdir(name));
            QFile file(folder.filePath(name + "/base-addr"));
            if (!entry.section('=', 1).isEmpty())
                QVERIFY(file.open(QIODevice::WriteOnly) &&
                        file.write(entry.section('=', 1).toUtf8()));
        }
        QStringList meant;
        const auto listed = ppdev::readPortList(folder.path().toStdString());
        for (const auto& [name, base] : {std::pair{"LPT1", 0x378u}, {"LPT2", 0x278u}}) {
            const auto port = ppdev::portFor(base, listed);
            meant << name << (port ? QString::number(port->number) : "-");
        }
        QTEST(meant.join(' '), "expected");
    }

    // A terminating signal while a cell is raised: the handler lowers the
    // lines with the one ioctl, and the process ends with the signal's own
    // status.
    void terminationLowersLines()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--terminated-child"});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(child.exitCode(), SIGTERM);
        QVERIFY(child.readAllStandardError().endsWith("WDATA=3f\nWDATA=00\n"));
    }
};

int main(int argc, char** argv)
{
    // LPT1 through the fake device, whose calls are told on standard error.
    if (argc == 2 && qstrcmp(argv[1], "--terminated-child") == 0) {
        echo = true;
        listed = EMULATED_PC;
        ppdev::setDeviceCalls(&DEVICE);
        (void)initializeParallelPort(LPT1_BASE);
        lowerDataLinesOnTermination();
        set_pin(0x3F);
        std::raise(SIGTERM);
        return 3;
    }
    QApplication app(argc, argv);
    TestPpdev test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ppdev.moc"
