#include "main_form_probe.h"

#include <QAction>
#include <QCheckBox>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

namespace
{

const QString FORMAT_MSG = "The file doesn't seem to be in a correct format";
const QByteArray MAGIC = "#!NUBTactile_CONFIGURATION_FILE!#\n";
const QString RESET = "|||||-|-||0|0"; // formState() of a form just reset

bool writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

rlim_t addressSpaceInUse()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QRegularExpression vmSize("VmSize:\\s*(\\d+) kB");
    return vmSize.match(QString::fromLatin1(status.readAll())).captured(1).toULong() * 1024;
}

// The window with its own overwrite question.
class AskingForm : public ProbeWorld, public main_form
{
public:
    QString saveName;

private:
    QString saveFileName() override { return saveName; }
};

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProbeForm> form;

    // Something in every field that a reset clears.
    void dirty()
    {
        form->fill(2, "junk", "junk");
        form->pins_duration_text->setText("junk");
        form->pin_3_check->setChecked(true);
        form->word_text->setEnabled(true);
        form->loop_count_text->setEnabled(false);
    }

    // "trigger|pause|hold|interval|loop|word|length|single-shot duration|mode|
    // pin 3", a disabled field's text followed by "-".
    QString formState() const
    {
        QStringList state;
        for (const QLineEdit* field :
             {form->trigger_time_text, form->after_trigger_time_text, form->char_time_text,
              form->after_char_time_text, form->loop_count_text, form->word_text,
              form->sequence_length_text, form->pins_duration_text})
            state << field->text() + (field->isEnabled() ? "" : "-");
        return state.join('|') + QStringLiteral("|%1|%2")
                                     .arg(form->mode_combo->currentIndex())
                                     .arg(form->pin_3_check->isChecked());
    }

private slots:
    void init() { form = std::make_unique<ProbeForm>(); }
    void cleanup() { releaseForm(form); }

    void saveAndReopen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("last");
        QTest::addColumn<QString>("reopened");
        QTest::newRow("no mode") << 0 << QByteArray() << "10||30|x y|2|-|-||0|0";
        QTest::newRow("text") << 1 << QByteArray("ñandú") << "10||30|x y|2|ñandú|-||1|0";
        QTest::newRow("random valid") << 2 << QByteArray("15") << "10||30|x y|2|-|15||2|0";
        QTest::newRow("random non-valid") << 3 << QByteArray("15") << "10||30|x y|2|-|15||3|0";
        QTest::newRow("random mixed") << 4 << QByteArray("15") << "10||30|x y|2|-|15||4|0";
    }
    void saveAndReopen()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, last);
        QFETCH(QString, reopened);
        form->setFields(mode, {"A", "B", "10", "", "30", "x y", "2", "ñandú", "15"});
        form->saveName = form->dir.filePath("settings");
        form->fileSaveMenu->trigger();
        QCOMPARE(readFile("settings"),
                 MAGIC + "10\n\n30\nx y\n2\n" + QByteArray::number(mode) + "\n" + last + "\n");

        dirty();
        form->openName = form->saveName;
        form->fileOpenMenu->trigger();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(formState(), reopened);
    }

    // A file's content, whether it is refused as not in the format, and the
    // form afterwards.
    void open_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("state");
        QTest::newRow("carriage returns")
            << QByteArray(
                   "#!NUBTactile_CONFIGURATION_FILE!#\r\n1\r\n2\r\n3\r\n4\r\n5\r\n1\r\nhola\r\n")
            << true << "1\r|2\r|3\r|4\r|5\r" + RESET.mid(4);
        QTest::newRow("ten lines") << MAGIC + "1\n2\n3\n4\n5\n1\nhola\nmundo\nadios\n"
                                   << false << "1|2|3|4|5|hola  mundo  adios|-||1|0";
        QTest::newRow("extra empty line") << MAGIC + "1\n2\n3\n4\n5\n3\n12\n\n"
                                          << false << "1|2|3|4|5|-|12  ||3|0";
        QTest::newRow("no final line feed")
            << MAGIC + "\n2\n3\n4\n5\n1\nhola" << false << "|2|3|4|5|hola|-||1|0";
        QTest::newRow("only the magic line") << MAGIC << true << RESET;
        QTest::newRow("wrong magic")
            << QByteArray("#!nubtactile_configuration_file!#\n1\n2\n3\n4\n5\n1\nhola\n") << true
            << RESET;
        QTest::newRow("bad mode") << MAGIC + "1\n2\n3\n4\n5\n01\nhola\n"
                                  << true << "1|2|3|4|5|-|-||0|0";
        QTest::newRow("Latin-1") << MAGIC + QByteArray("1\n2\n3\n4\n5\n1\nca\xf1") + "a\n"
                                 << false << QString("1|2|3|4|5|caña|-||1|0");
        // Past the first 64 KiB, which are read and decoded before the rest.
        QTest::newRow("Latin-1 far down")
            << MAGIC + "ca\xc3\xb1" + "a\n2\n3\n4\n5\n0\n" + QByteArray(70000, '\n') + "\xf1"
            << false << QString("caÃ±a|2|3|4|5|-|-||0|0");
        QTest::newRow("UTF-8 cut at the end")
            << MAGIC + "1\n2\n3\n4\n5\n1\nca\xc3" << false << QString("1|2|3|4|5|caÃ|-||1|0");
        QTest::newRow("six values") << MAGIC + "1\n2\n3\n4\n5\n0\n" << true << RESET;
        // Longer than a line edit takes by default; the word starts at an odd
        // offset, so that a letter lies across every 64 KiB boundary.
        QTest::newRow("long values")
            << MAGIC + QByteArray(40000, '7') + "\n2\n3\n4\n5\n1\n" + QString(40000, u'ñ').toUtf8()
            << false << QString(40000, '7') + "|2|3|4|5|" + QString(40000, u'ñ') + "|-||1|0";
    }
    void open()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, refused);
        QFETCH(QString, state);
        QVERIFY(writeFile("settings", content));
        dirty();
        form->openName = form->dir.filePath("settings");
        form->fileOpen();
        QCOMPARE(form->errors, refused ? QStringList{FORMAT_MSG} : QStringList());
        QCOMPARE(formState(), state);
    }

    // Nothing readable chosen: the form stays as it was.
    void openNothing()
    {
        QVERIFY(QDir::current().mkdir("folder"));
        dirty();
        const QString before = formState();
        for (const QString& name :
             {QString(), form->dir.filePath("missing"), form->dir.filePath("folder")}) {
            form->openName = name;
            form->fileOpen();
            QCOMPARE(formState(), before);
        }
        QCOMPARE(form->errors, QStringList{"Could not open " + form->dir.filePath("folder")});
    }

    // A text file is played at once after the form is reset, and not logged.
    void textFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("line feeds") << QByteArray("#!NUBTactile_TEXT_FILE!#\nhola 500 1000\nsi 20");
        QTest::newRow("saved on Windows")
            << QByteArray("#!NUBTactile_TEXT_FILE!#\r\nhola 500 1000\r\nsi 20\r\n");
    }
    void textFile()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile("words", content));
        dirty();
        form->openName = form->dir.filePath("words");
        form->mark();
        form->fileOpenMenu->trigger();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(form->edges(), "0:19 500:0 1500:21 2000:0 3000:7 3500:0 4500:1 5000:0 6000:14 "
                                "6020:0 6020:10 6040:0");
        QCOMPARE(formState(), RESET);
        QCOMPARE(workFiles(), QStringList{"words"});
    }

    // Saving over a file asks first; No or a cancelled dialog writes nothing.
    void overwrite()
    {
        QVERIFY(writeFile("settings", "old\n"));
        form->fill(1);
        for (bool answer : {false, true}) {
            form->saveName = form->dir.filePath("settings");
            form->overwriteAnswer = answer;
            form->fileSave();
            QCOMPARE(readFile("settings"),
                     answer ? MAGIC + "100\n500\n300\n200\n1\n1\na\n" : "old\n");
        }
        form->saveName.clear();
        form->fileSave();
        QCOMPARE(form->overwriteAsked, QStringList(2, form->dir.filePath("settings")));
        QCOMPARE(workFiles(), QStringList{"settings"});
        QCOMPARE(form->errors, QStringList());
    }

    // The question shows the file name as it is; Return takes Yes, Escape No.
    void overwriteQuestion_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("Return") << int(Qt::Key_Return) << MAGIC + "\n\n\n\n\n0\n\n";
        QTest::newRow("Escape") << int(Qt::Key_Escape) << QByteArray("old\n");
    }
    void overwriteQuestion()
    {
        QFETCH(int, key);
        QFETCH(QByteArray, saved);
        AskingForm asking;
        asking.saveName = asking.dir.filePath("<i>big");
        QVERIFY(writeFile(asking.saveName, "old\n"));
        QStringList seen;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() << box->text()
                     << (box->textFormat() == Qt::PlainText ? "plain" : "markup");
                QTest::keyClick(box, Qt::Key(key));
            }
        });
        asking.fileSave();
        QCOMPARE(seen, QStringList({"Overwrite file?",
                                    "A file called " + asking.saveName +
                                        " already exists. Do you want to overwrite it?",
                                    "plain"}));
        QCOMPARE(readFile(asking.saveName), saved);
    }

    // A word larger than the memory left is refused with a message, and the
    // program goes on with the form reset.
    void openWithoutMemory()
    {
        QVERIFY(
            writeFile("settings", MAGIC + "1\n2\n3\n4\n5\n1\n" + QByteArray(8 << 20, 'a') + "\n"));
        dirty();
        form->openName = form->dir.filePath("settings");
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
        rlimit lowered = saved;
        lowered.rlim_cur = addressSpaceInUse() + (8 << 20);
        QCOMPARE(setrlimit(RLIMIT_AS, &lowered), 0);
        form->fileOpen();
        setrlimit(RLIMIT_AS, &saved);
        QCOMPARE(form->errors, QStringList{"Not enough memory. Please stop some programs you are "
                                           "using and try again"});
        QCOMPARE(formState(), RESET);
    }

    // A save that fails says so and leaves whatever was there before.
    void failedSave_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<rlim_t>("sizeLimit");
        QTest::newRow("no such directory") << "missing/settings" << RLIM_INFINITY;
        QTest::newRow("target is a directory") << "folder" << RLIM_INFINITY;
        QTest::newRow("file size limit") << "settings" << rlim_t(10);
    }
    void failedSave()
    {
        QFETCH(QString, name);
        QFETCH(rlim_t, sizeLimit);
        QVERIFY(writeFile("settings", "old\n") && QDir::current().mkdir("folder"));
        form->fill(1);
        form->saveName = form->dir.filePath(name);
        form->overwriteAnswer = true;
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = sizeLimit;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        form->fileSave();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(form->errors, QStringList{"There was a problem while trying to save the file"});
        QCOMPARE(readFile("settings"), QByteArray("old\n"));
        QCOMPARE(workFiles(), (QStringList{"folder", "settings"}));
    }
};

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
