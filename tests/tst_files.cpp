#include "main_form_probe.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace
{

const QString FORMAT_MSG = "The file doesn't seem to be in a correct format";
const QByteArray MAGIC = "#!NUBTactile_CONFIGURATION_FILE!#\n";
const QString RESET = "|||||0|||001|0"; // formState() of a form just reset

bool writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The main window with its own dialogs; only its messages are recorded.
class DialogForm : public main_form
{
public:
    QStringList errors;
    void error(const char* msg) override { errors << QString::fromUtf8(msg); }
};

// Runs `act` on the modal dialog of type T as soon as it is up.
template <typename T> void whenModal(std::function<void(T*)> act)
{
    QTimer::singleShot(10, [act] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible())
            act(dialog);
        else
            whenModal<T>(act);
    });
}

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

    // "trigger|pause|hold|interval|loop|mode|word|length|enabled word, length,
    // loop as 0/1|pin 3|single-shot duration".
    QString formState() const
    {
        return QStringList{form->trigger_time_text->text(),
                           form->after_trigger_time_text->text(),
                           form->char_time_text->text(),
                           form->after_char_time_text->text(),
                           form->loop_count_text->text(),
                           QString::number(form->mode_combo->currentIndex()),
                           form->word_text->text(),
                           form->sequence_length_text->text(),
                           QStringLiteral("%1%2%3")
                               .arg(form->word_text->isEnabled())
                               .arg(form->sequence_length_text->isEnabled())
                               .arg(form->loop_count_text->isEnabled()),
                           QString::number(form->pin_3_check->isChecked())}
                   .join('|') +
               form->pins_duration_text->text();
    }

private slots:
    void init() { form = std::make_unique<ProbeForm>(); }
    void cleanup()
    {
        QVERIFY(!form->data);
        form.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void saveAndReopen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("last");
        QTest::addColumn<QString>("reopened");
        QTest::newRow("no mode") << 0 << QByteArray() << "10||30|x y|2|0|||001|0";
        QTest::newRow("text") << 1
                              << QByteArray("\xc3\xb1"
                                            "and\xc3\xba")
                              << QString::fromUtf8("10||30|x y|2|1|ñandú||101|0");
        QTest::newRow("random valid") << 2 << QByteArray("15") << "10||30|x y|2|2||15|011|0";
        QTest::newRow("random non-valid") << 3 << QByteArray("15") << "10||30|x y|2|3||15|011|0";
        QTest::newRow("random mixed") << 4 << QByteArray("15") << "10||30|x y|2|4||15|011|0";
    }
    void saveAndReopen()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, last);
        QFETCH(QString, reopened);
        form->setFields(mode,
                        {"A", "B", "10", "", "30", "x y", "2", QString::fromUtf8("ñandú"), "15"});
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

    // Opening "settings" holding `content`, the directory "folder", or nothing;
    // an empty state is the form left as it was.
    void open_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("state");
        const QString cfg = "settings";
        QTest::newRow("carriage returns")
            << cfg
            << QByteArray(
                   "#!NUBTactile_CONFIGURATION_FILE!#\r\n1\r\n2\r\n3\r\n4\r\n5\r\n1\r\nhola\r\n")
            << FORMAT_MSG << "1\r|2\r|3\r|4\r|5\r" + RESET.mid(4);
        QTest::newRow("ten lines") << cfg << MAGIC + "1\n2\n3\n4\n5\n1\nhola\nmundo\nadios\n"
                                   << ""
                                   << "1|2|3|4|5|1|hola  mundo  adios||101|0";
        QTest::newRow("extra empty line") << cfg << MAGIC + "1\n2\n3\n4\n5\n3\n12\n\n"
                                          << ""
                                          << "1|2|3|4|5|3||12  |011|0";
        QTest::newRow("no final line feed") << cfg << MAGIC + "\n2\n3\n4\n5\n1\nhola"
                                            << ""
                                            << "|2|3|4|5|1|hola||101|0";
        QTest::newRow("only the magic line") << cfg << MAGIC << FORMAT_MSG << RESET;
        QTest::newRow("wrong magic")
            << cfg << QByteArray("#!nubtactile_configuration_file!#\n1\n2\n3\n4\n5\n1\nhola\n")
            << FORMAT_MSG << RESET;
        QTest::newRow("text magic, carriage return")
            << cfg << QByteArray("#!NUBTactile_TEXT_FILE!#\r\nhola 5 5\r\n") << FORMAT_MSG << RESET;
        QTest::newRow("bad mode") << cfg << MAGIC + "1\n2\n3\n4\n5\n01\nhola\n"
                                  << FORMAT_MSG << "1|2|3|4|5|0|||001|0";
        QTest::newRow("Latin-1") << cfg
                                 << MAGIC + "1\n2\n3\n4\n5\n1\nca\xf1"
                                            "a\n"
                                 << "" << QString::fromUtf8("1|2|3|4|5|1|caña||101|0");
        QTest::newRow("unreadable") << "folder" << QByteArray() << "Could not open %1"
                                    << "";
        QTest::newRow("cancelled") << "" << QByteArray() << ""
                                   << "";
        QTest::newRow("no such file") << "missing" << QByteArray() << ""
                                      << "";
    }
    void open()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QFETCH(QString, state);
        QVERIFY(writeFile("settings", content) && QDir::current().mkdir("folder"));
        dirty();
        const QString before = formState();
        form->openName = name.isEmpty() ? QString() : form->dir.filePath(name);
        form->fileOpen();
        QCOMPARE(form->errors,
                 message.isEmpty() ? QStringList() : QStringList{message.arg(form->openName)});
        QCOMPARE(formState(), state.isEmpty() ? before : state);
    }

    // A text file is played at once after the form is reset, and not logged.
    void textFile()
    {
        QVERIFY(writeFile("words", "#!NUBTactile_TEXT_FILE!#\nhola 500 1000\nsi 20"));
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
    void overwrite_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void overwrite()
    {
        QFETCH(bool, answer);
        QVERIFY(writeFile("settings", "old\n"));
        form->fill(1);
        form->saveName = form->dir.filePath("settings");
        form->overwriteAnswer = answer;
        form->fileSave();
        form->saveName.clear();
        form->fileSave();
        QCOMPARE(form->overwriteAsked, QStringList{form->dir.filePath("settings")});
        QCOMPARE(readFile("settings"), answer ? MAGIC + "100\n500\n300\n200\n1\n1\na\n" : "old\n");
        QCOMPARE(workFiles(), QStringList{"settings"});
        QCOMPARE(form->errors, QStringList());
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

    // The window's own dialogs: names, captions, start directory, parent, and
    // its own overwrite question, Yes by default, instead of the dialog's.
    void dialogs()
    {
        DialogForm real;
        const QString path = form->dir.filePath("settings");
        QVERIFY(writeFile(path, MAGIC + "1\n2\n3\n4\n5\n1\nhola\n"));
        QStringList seen;
        auto pick = [&seen, &path, &real](QFileDialog* dialog) {
            seen << dialog->objectName() << dialog->windowTitle()
                 << QString::number(dialog->testOption(QFileDialog::DontConfirmOverwrite))
                 << QDir(dialog->directory()).canonicalPath();
            QVERIFY(dialog->parentWidget() == &real);
            // Typed as an operator would: selectFile() leaves a focused name field alone.
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the name
        };
        whenModal<QFileDialog>(pick);
        real.fileOpen();
        real.word_text->setText(real.word_text->text() + "!");
        whenModal<QFileDialog>([&](QFileDialog* dialog) {
            pick(dialog);
            whenModal<QMessageBox>([&](QMessageBox* box) {
                seen << box->windowTitle() << box->text();
                QTest::keyClick(box, Qt::Key_Return);
            });
        });
        real.fileSave();

        QCOMPARE(real.errors, QStringList());
        QCOMPARE(readFile(path), MAGIC + "1\n2\n3\n4\n5\n1\nhola!\n");
        const QString here = QDir::current().canonicalPath();
        QCOMPARE(seen,
                 (QStringList{
                     "open file dialog", "Choose a file to open", "0", here, "save file dialog",
                     "Choose the file to save", "1", here, "Overwrite file?",
                     "A file called " + path + " already exists. Do you want to overwrite it?"}));
    }
};

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
