// The two executables as processes: what the real program says and returns
// when it cannot reach the port, and that the simulated one starts, centres
// its window, follows its keys and ends with status 0 after saving the port.

#include <QtTest>

#include <cerrno>
#include <cstring>
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

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void realProgramWithoutPort_data()
    {
        QTest::addColumn<QByteArray>("choice"); // null: no port file
        QTest::addColumn<QString>("device");
        QTest::newRow("no port file") << QByteArray() << "/dev/parport0";
        QTest::newRow("LPT2 chosen") << QByteArray("LPT2\n") << "/dev/parport1";
    }

    void realProgramWithoutPort()
    {
        QFETCH(QByteArray, choice);
        QFETCH(QString, device);
        // Ask the kernel the program's question to know its answer.
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

        QProcess program;
        start(program, NUBTACTILE_PATH);
        if (!program.waitForFinished(15000)) {
            program.kill();
            program.waitForFinished();
            QSKIP("the program reached a port on this machine");
        }
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
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        const QString xdotool = QStandardPaths::findExecutable("xdotool");
        if (xvfb.isEmpty() || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool");
        QProcess server;
        server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QByteArray number; // of the display, ended by a line feed
        while (!number.endsWith('\n') && server.waitForReadyRead(10000))
            number += server.readAllStandardOutput();
        if (number.trimmed().isEmpty())
            QSKIP("Xvfb did not start");
        const QString display = ":" + QString::fromLatin1(number.trimmed());
        QProcess program;
        start(program, NUBTACTILE_SIM_PATH, "xcb", display);

        QProcess tool;
        tool.setProcessEnvironment(program.processEnvironment());
        tool.start(xdotool, {"search", "--sync", "--onlyvisible", "--name", "^NUBTactile$",
                             "getwindowgeometry", "--shell", "windowfocus", "--sync", "key", "F2",
                             "sleep", "0.3", "key", "ctrl+q"});
        QVERIFY(tool.waitForFinished(15000));
        QMap<QString, int> geometry;
        for (const QString& line : QString::fromUtf8(tool.readAllStandardOutput()).split('\n'))
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
