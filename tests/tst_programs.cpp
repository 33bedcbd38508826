// The two executables as processes: what the real program says, shows and
// returns when it cannot reach the port, and that the simulated one starts,
// centres its window, follows its keys and ends with status 0 after saving
// the port.

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

class TestPrograms : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    QString portFile() const { return dir->filePath("NUBTactile_pport.cfg"); }
    // The port file's contents; null when there is none.
    QByteArray savedChoice() const
    {
        QFile file(portFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Starts `program` in the test's directory, which also serves as the
    // private runtime directory that keeps the toolkit's warnings off the
    // standard error read here.
    void start(QProcess& process, const QString& program, const QString& platform = "offscreen",
               const QString& display = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir->path());
        env.insert("QT_QPA_PLATFORM", platform);
        env.insert("DISPLAY", display);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir->path());
        process.start(program, {});
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    }

    // Starts an X server of 1024 x 768 and gives its display name, or an
    // empty one when there is none to be had (the test is then skipped).
    static QString startX(QProcess& server)
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
            return {};
        server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QByteArray number; // of the display, ended by a line feed
        while (!number.endsWith('\n') && server.waitForReadyRead(10000))
            number += server.readAllStandardOutput();
        return number.trimmed().isEmpty() ? QString() : ":" + QString::fromLatin1(number.trimmed());
    }

    // Runs xdotool with `arguments` for `program`'s display, to its end.
    static QByteArray xdotool(const QProcess& program, const QStringList& arguments)
    {
        QProcess tool;
        tool.setProcessEnvironment(program.processEnvironment());
        tool.start(QStandardPaths::findExecutable("xdotool"), arguments);
        if (!tool.waitForFinished(15000))
            tool.kill();
        tool.waitForFinished();
        return tool.readAllStandardOutput();
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    // Started from a desktop menu the program has no terminal: on a display
    // the reasons are shown in a box too, which must not wait where there is
    // no display.
    void realProgramWithoutPort_data()
    {
        QTest::addColumn<QByteArray>("choice"); // null: no port file
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("display");
        QTest::newRow("no port file") << QByteArray() << "/dev/parport0" << false;
        QTest::newRow("LPT2 chosen") << QByteArray("LPT2\n") << "/dev/parport1" << false;
        QTest::newRow("on a display: the box") << QByteArray() << "/dev/parport0" << true;
    }

    void realProgramWithoutPort()
    {
        QFETCH(QByteArray, choice);
        QFETCH(QString, device);
        QFETCH(bool, display);
        // Ask the kernel the program's questions to know its answers.
        const int fd = ::open(qPrintable(device), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            QSKIP("this process may open the parport device, so the program would start");
        }
        const unsigned long base = choice.isNull() ? 0x378 : 0x278;
        if (syscall(SYS_ioperm, base, 3UL, 1) == 0) {
            syscall(SYS_ioperm, base, 3UL, 0);
            QSKIP("this process may use the port directly, so the program would start");
        }
        const QString ioError = QString::fromLocal8Bit(std::strerror(errno));
        if (!choice.isNull()) {
            QFile file(portFile());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(choice) == choice.size());
        }
        QProcess server;
        const QString x = display ? startX(server) : QString();
        if (display && x.isEmpty())
            QSKIP("needs Xvfb and xdotool");

        QProcess program;
        start(program, NUBTACTILE_PATH, display ? "xcb" : "offscreen", x);
        // The box, found by its caption, is answered as an operator would.
        QByteArray box;
        if (display) {
            box = xdotool(program, {"search", "--sync", "--onlyvisible", "--name", "^NUBTactile$"})
                      .trimmed();
            xdotool(program, {"windowfocus", "--sync", box, "key", "Return"});
        }
        const bool ended = program.waitForFinished(10000);
        program.kill();
        program.waitForFinished();
        server.kill();
        server.waitForFinished();
        QVERIFY2(ended, "the program did not end");
        QCOMPARE(box.isEmpty(), !display);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        // Each way to the port it tried, then the verdict.
        const QString said = QString::fromLocal8Bit(program.readAllStandardError());
        const QRegularExpression expected(QRegularExpression::anchoredPattern(
            "can't open " + QRegularExpression::escape(device) + ": .+\n" +
            "can't get IO permissions!: " + QRegularExpression::escape(ioError) + "\n" +
            "PARALLEL PORT NOT FOUND\n"));
        QVERIFY2(expected.match(said).hasMatch(), qPrintable(said));
        // It never got far enough to save a choice.
        QCOMPARE(savedChoice(), choice);
    }

    void simulatedProgramStarts()
    {
        QProcess program;
        start(program, NUBTACTILE_SIM_PATH);
        QVERIFY2(!program.waitForFinished(1500), program.readAllStandardError().constData());
        // The choice is saved when the window closes, not before.
        QVERIFY(savedChoice().isNull());
        program.kill();
        program.waitForFinished();
        // The lines start low and nothing is sent: no change to trace, no complaint.
        QCOMPARE(program.readAll() + program.readAllStandardError(), QByteArray());
    }

    // On an X server: the window is centred, F2 picks LPT2 and Ctrl+Q ends
    // the process with status 0 after saving the choice.
    void simulatedProgramUnderX()
    {
        QProcess server;
        const QString display = startX(server);
        if (display.isEmpty())
            QSKIP("needs Xvfb and xdotool");
        QProcess program;
        start(program, NUBTACTILE_SIM_PATH, "xcb", display);

        // Found by its caption, which says that the port is simulated.
        const QByteArray shell = xdotool(
            program, {"search", "--sync", "--onlyvisible", "--name",
                      "^NUBTactile \\(simulated port\\)$", "getwindowgeometry", "--shell",
                      "windowfocus", "--sync", "key", "F2", "sleep", "0.3", "key", "ctrl+q"});
        QMap<QString, int> geometry;
        for (const QString& line : QString::fromUtf8(shell).split('\n'))
            geometry[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        const bool ended = program.waitForFinished(10000);
        program.kill();
        program.waitForFinished();
        server.kill();
        server.waitForFinished();

        QVERIFY2(ended, "Ctrl+Q did not end the program");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(geometry["WIDTH"] >= 411 && geometry["HEIGHT"] >= 413);
        QCOMPARE(QPoint(geometry["X"], geometry["Y"]),
                 QPoint((1024 - geometry["WIDTH"]) / 2, (768 - geometry["HEIGHT"]) / 2));
        QCOMPARE(savedChoice(), QByteArray("LPT2\n"));
        QCOMPARE(program.readAll() + program.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
