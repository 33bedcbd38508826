// The two executables as whole processes: what the real program says and
// returns when it cannot reach the port, and that the simulated one starts,
// places its window and closes with status 0 after saving the port choice.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

const QString REAL_PROGRAM = QStringLiteral(NUBTACTILE_PATH);
const QString SIMULATED_PROGRAM = QStringLiteral(NUBTACTILE_SIM_PATH);

// What the real program prints when no way to the port opens, one pattern
// per line of standard error, in order: each way it tried, then the verdict.
QStringList expectedRefusal(const QString& device, const QString& ioError)
{
    return {
        QStringLiteral("can't open ") + QRegularExpression::escape(device) + QStringLiteral(": .+"),
        QStringLiteral("can't get IO permissions!: ") + QRegularExpression::escape(ioError),
        QStringLiteral("PARALLEL PORT NOT FOUND"),
    };
}

// One line of the simulated port's data-line trace.
const QRegularExpression TRACE_LINE(QStringLiteral("^ *\\d+\\.\\d{6}  .  0x[0-9a-f]{2}$"));

QStringList lines(const QByteArray& output)
{
    QStringList result = QString::fromUtf8(output).split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPrograms : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    // A private runtime directory keeps the toolkit's own warnings off the
    // standard error the tests read.
    QProcessEnvironment environment(const QString& platform = QStringLiteral("offscreen"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString runtime = dir->filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        return env;
    }

    void startIn(QProcess& process, const QString& program, const QProcessEnvironment& env)
    {
        process.setWorkingDirectory(dir->path());
        process.setProcessEnvironment(env);
        process.start(program, {});
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    }

    // Runs a helper tool to its end and returns its standard output.
    QString run(const QString& tool, const QStringList& arguments, const QProcessEnvironment& env)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool, arguments);
        if (!p.waitForFinished(15000)) {
            p.kill();
            p.waitForFinished();
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void cleanup() { dir.reset(); }

    void realProgramWithoutPort_data()
    {
        QTest::addColumn<QByteArray>("portFile"); // null: none
        QTest::addColumn<QString>("device");
        QTest::newRow("no port file") << QByteArray() << "/dev/parport0";
        QTest::newRow("LPT2 chosen") << QByteArray("LPT2\n") << "/dev/parport1";
    }

    void realProgramWithoutPort()
    {
        QFETCH(QByteArray, portFile);
        QFETCH(QString, device);

        // Ask the kernel the program's question ourselves to know its answer.
        const unsigned long base = portFile.isNull() ? 0x378 : 0x278;
        if (syscall(SYS_ioperm, base, 3UL, 1) == 0) {
            syscall(SYS_ioperm, base, 3UL, 0);
            QSKIP("this process may use the port directly, so the program would start");
        }
        const QString ioError = QString::fromLocal8Bit(std::strerror(errno));
        if (!portFile.isNull()) {
            QFile file(dir->filePath(QStringLiteral("NUBTactile_pport.cfg")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(portFile);
        }

        QProcess program;
        startIn(program, REAL_PROGRAM, environment());
        if (!program.waitForFinished(15000)) {
            program.kill();
            program.waitForFinished();
            QSKIP("the program reached a port on this machine");
        }
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardOutput(), QByteArray());

        const QStringList said = lines(program.readAllStandardError());
        const QStringList expected = expectedRefusal(device, ioError);
        QCOMPARE(said.size(), expected.size());
        for (int i = 0; i < said.size(); ++i) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected[i]));
            QVERIFY2(pattern.match(said[i]).hasMatch(), qPrintable(said[i]));
        }
        // It never got far enough to save a choice.
        QCOMPARE(fileContents(dir->filePath(QStringLiteral("NUBTactile_pport.cfg"))), portFile);
    }

    void simulatedProgramRuns()
    {
        QProcess program;
        startIn(program, SIMULATED_PROGRAM, environment());
        QVERIFY2(!program.waitForFinished(1500), program.readAllStandardError().constData());
        QCOMPARE(program.state(), QProcess::Running);
        // The choice is saved when the window closes, not before.
        QVERIFY(!QFile::exists(dir->filePath(QStringLiteral("NUBTactile_pport.cfg"))));
        program.kill();
        program.waitForFinished();

        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        // The port starts low and nothing is sent, so nothing changes: any line
        // there is must be a trace line, never a refusal.
        for (const QString& line : lines(program.readAllStandardError()))
            QVERIFY2(TRACE_LINE.match(line).hasMatch(), qPrintable(line));
    }

    // On a real X server: the window is centred, F2 picks LPT2 and Ctrl+Q
    // ends the process with status 0 after saving the choice.
    void simulatedProgramUnderX()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (xvfb.isEmpty() || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool");

        QProcess server;
        server.start(xvfb,
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1024x768x24"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QVERIFY(server.waitForStarted());
        QString display;
        for (int i = 0; i < 100 && display.isEmpty(); ++i) {
            server.waitForReadyRead(100);
            display = QString::fromLatin1(server.readAllStandardOutput()).trimmed();
        }
        if (display.isEmpty()) {
            server.kill();
            server.waitForFinished();
            QSKIP("Xvfb did not start");
        }
        QProcessEnvironment env = environment(QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + display);
        QProcess program;
        startIn(program, SIMULATED_PROGRAM, env);

        const QString window = run(xdotool,
                                   {QStringLiteral("search"), QStringLiteral("--sync"),
                                    QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                    QStringLiteral("^NUBTactile$")},
                                   env)
                                   .section('\n', 0, 0);
        QVERIFY2(!window.isEmpty(), program.readAllStandardError().constData());

        QMap<QString, int> geometry;
        const QString shell = run(
            xdotool, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window}, env);
        for (const QString& line : shell.split('\n'))
            geometry[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        QVERIFY(geometry["WIDTH"] >= 411 && geometry["HEIGHT"] >= 413);
        QCOMPARE(geometry["X"], (1024 - geometry["WIDTH"]) / 2);
        QCOMPARE(geometry["Y"], (768 - geometry["HEIGHT"]) / 2);

        run(xdotool,
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window, QStringLiteral("key"),
             QStringLiteral("F2"), QStringLiteral("sleep"), QStringLiteral("0.3"),
             QStringLiteral("key"), QStringLiteral("ctrl+q")},
            env);
        const bool ended = program.waitForFinished(10000);
        if (!ended)
            program.kill();
        program.waitForFinished();
        server.kill();
        server.waitForFinished();

        QVERIFY2(ended, "Ctrl+Q did not end the program");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(fileContents(dir->filePath(QStringLiteral("NUBTactile_pport.cfg"))),
                 QByteArray("LPT2\n"));
    }
};

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
