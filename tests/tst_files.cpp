#include "main_form_probe.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace
{

const QString FORMAT_MSG = QStringLiteral("The file doesn't seem to be in a correct format");
const QString SAVE_MSG = QStringLiteral("There was a problem while trying to save the file");
const QByteArray MAGIC = "#!NUBTactile_CONFIGURATION_FILE!#\n";

bool writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The main window with its real dialogs; only its messages are recorded.
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

private:
    std::unique_ptr<FormSession> s;
    ProbeForm* form = nullptr;

    // Puts something in every field that fileNew clears.
    void dirty()
    {
        s->fill(2, QStringLiteral("junk"), QStringLiteral("junk"));
        form->pins_duration_text->setText(QStringLiteral("junk"));
        form->pin_3_check->setChecked(true);
        form->word_text->setEnabled(true);
        form->loop_count_text->setEnabled(false);
    }

    // The form as "trigger|pause|hold|interval|loop|mode|word|length|enabled
    // word, length, loop (as 0/1)|pin 3".
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
            .join(QLatin1Char('|'));
    }

private slots:
    void init()
    {
        s = std::make_unique<FormSession>();
        form = s->probeForm;
    }

    void cleanup()
    {
        QVERIFY(!form || !form->data);
        s.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void saveAndReopen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QString>("reopened");
        QTest::newRow("no mode") << 0 << "hola" << MAGIC + "10\n\n30\nx y\n2\n0\n\n"
                                 << "10||30|x y|2|0|||001|0";
        QTest::newRow("text") << 1 << QString::fromUtf8("ñandú")
                              << MAGIC + "10\n\n30\nx y\n2\n1\n\xc3\xb1"
                                         "and\xc3\xba\n"
                              << QString::fromUtf8("10||30|x y|2|1|ñandú||101|0");
        QTest::newRow("random valid") << 2 << "hola" << MAGIC + "10\n\n30\nx y\n2\n2\n15\n"
                                      << "10||30|x y|2|2||15|011|0";
        QTest::newRow("random non-valid") << 3 << "hola" << MAGIC + "10\n\n30\nx y\n2\n3\n15\n"
                                          << "10||30|x y|2|3||15|011|0";
        QTest::newRow("random mixed") << 4 << "hola" << MAGIC + "10\n\n30\nx y\n2\n4\n15\n"
                                      << "10||30|x y|2|4||15|011|0";
    }
    void saveAndReopen()
    {
        QFETCH(int, mode);
        QFETCH(QString, word);
        QFETCH(QByteArray, saved);
        QFETCH(QString, reopened);
        s->fill(mode, word, QStringLiteral("15"));
        form->trigger_time_text->setText(QStringLiteral("10"));
        form->after_trigger_time_text->clear();
        form->char_time_text->setText(QStringLiteral("30"));
        form->after_char_time_text->setText(QStringLiteral("x y"));
        form->loop_count_text->setText(QStringLiteral("2"));
        form->saveName = s->dir.filePath(QStringLiteral("settings"));
        form->fileSaveMenu->trigger();
        QCOMPARE(s->read(form->saveName), saved);

        dirty();
        form->openName = form->saveName;
        form->fileOpenMenu->trigger();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(formState(), reopened);
    }

    // The reading rules, from hand-made and foreign files; the form is reset
    // first in every case.
    void readRules_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("state");
        QTest::newRow("carriage returns")
            << QByteArray("#!NUBTactile_CONFIGURATION_FILE!#\r\n1\r\n2\r\n3\r\n4\r\n5\r\n1\r\n"
                          "hola\r\n")
            << FORMAT_MSG << "1\r|2\r|3\r|4\r|5\r|0|||001|0";
        QTest::newRow("ten lines") << MAGIC + "1\n2\n3\n4\n5\n1\nhola\nmundo\nadios\n"
                                   << ""
                                   << "1|2|3|4|5|1|hola  mundo  adios||101|0";
        QTest::newRow("extra empty line") << MAGIC + "1\n2\n3\n4\n5\n3\n12\n\n"
                                          << ""
                                          << "1|2|3|4|5|3||12  |011|0";
        QTest::newRow("no final line feed") << MAGIC + "1\n2\n3\n4\n5\n1\nhola"
                                            << ""
                                            << "1|2|3|4|5|1|hola||101|0";
        QTest::newRow("empty seventh value") << MAGIC + "1\n2\n3\n4\n5\n0\n\n"
                                             << ""
                                             << "1|2|3|4|5|0|||001|0";
        QTest::newRow("empty values") << MAGIC + "\n\n\n\n\n2\n\n"
                                      << ""
                                      << "|||||2|||011|0";
        QTest::newRow("six values") << MAGIC + "1\n2\n3\n4\n5\n1\n"
                                    << FORMAT_MSG << "|||||0|||001|0";
        QTest::newRow("only the magic line") << MAGIC << FORMAT_MSG << "|||||0|||001|0";
        QTest::newRow("empty file") << QByteArray() << FORMAT_MSG << "|||||0|||001|0";
        QTest::newRow("wrong magic")
            << QByteArray("#!nubtactile_configuration_file!#\n1\n2\n3\n4\n5\n1\nhola\n")
            << FORMAT_MSG << "|||||0|||001|0";
        QTest::newRow("bad mode") << MAGIC + "1\n2\n3\n4\n5\n7\nhola\n"
                                  << FORMAT_MSG << "1|2|3|4|5|0|||001|0";
        QTest::newRow("mode with zero") << MAGIC + "1\n2\n3\n4\n5\n01\nhola\n"
                                        << FORMAT_MSG << "1|2|3|4|5|0|||001|0";
        QTest::newRow("UTF-8") << MAGIC + "1\n2\n3\n4\n5\n1\nca\xc3\xb1"
                                          "a\n"
                               << "" << QString::fromUtf8("1|2|3|4|5|1|caña||101|0");
        QTest::newRow("Latin-1") << MAGIC + "1\n2\n3\n4\n5\n1\nca\xf1"
                                            "a\n"
                                 << "" << QString::fromUtf8("1|2|3|4|5|1|caña||101|0");
    }
    void readRules()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QFETCH(QString, state);
        QVERIFY(writeFile(QStringLiteral("settings"), content));
        dirty();
        form->openName = s->dir.filePath(QStringLiteral("settings"));
        form->fileOpen();
        QCOMPARE(form->errors, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(formState(), state);
        QCOMPARE(form->pins_duration_text->text(), QString());
    }

    // Nothing to read: the form keeps what it had.
    void openNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("reported");
        QTest::newRow("cancelled") << "" << false;
        QTest::newRow("no such file") << "missing" << false;
        QTest::newRow("directory") << "folder" << true;
    }
    void openNothing()
    {
        QFETCH(QString, name);
        QFETCH(bool, reported);
        QVERIFY(QDir::current().mkdir(QStringLiteral("folder")));
        dirty();
        const QString before = formState();
        form->openName = name.isEmpty() ? QString() : s->dir.filePath(name);
        form->fileOpen();
        QCOMPARE(form->errors,
                 reported ? QStringList{"Could not open " + form->openName} : QStringList());
        QCOMPARE(formState(), before);
    }

    // A text file is played at once after the form is reset, never logged.
    void textFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("edges");
        QTest::addColumn<QString>("message");
        QTest::newRow("two entries")
            << QByteArray("#!NUBTactile_TEXT_FILE!#\nhola 500 1000\nsi 20")
            << "0:19 500:0 1500:21 2000:0 3000:7 3500:0 4500:1 5000:0 6000:14 6020:0 6020:10 "
               "6040:0"
            << QString();
        QTest::newRow("empty body") << QByteArray("#!NUBTactile_TEXT_FILE!#\n") << "" << QString();
        QTest::newRow("carriage return after the magic line")
            << QByteArray("#!NUBTactile_TEXT_FILE!#\r\nhola 5 5\r\n") << "" << FORMAT_MSG;
    }
    void textFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, edges);
        QFETCH(QString, message);
        QVERIFY(writeFile(QStringLiteral("words"), content));
        dirty();
        form->openName = s->dir.filePath(QStringLiteral("words"));
        s->mark();
        form->fileOpenMenu->trigger();
        QCOMPARE(form->errors, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(s->edges(), edges);
        QCOMPARE(formState(), QStringLiteral("|||||0|||001|0"));
        QCOMPARE(s->files(), QStringList{"words"});
    }

    void overwrite_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void overwrite()
    {
        QFETCH(bool, answer);
        QVERIFY(writeFile(QStringLiteral("settings"), "old\n"));
        s->fill(1, QStringLiteral("a"));
        form->saveName = s->dir.filePath(QStringLiteral("settings"));
        form->overwriteAnswer = answer;
        form->fileSave();
        QCOMPARE(form->overwriteAsked, QStringList{form->saveName});
        QCOMPARE(s->read(QStringLiteral("settings")),
                 answer ? MAGIC + "100\n500\n300\n200\n1\n1\na\n" : QByteArray("old\n"));
        QCOMPARE(form->errors, QStringList());

        form->saveName.clear(); // cancelled: no question, nothing written
        form->fileSave();
        QCOMPARE(form->overwriteAsked.size(), 1);
        QCOMPARE(s->files(), QStringList{"settings"});
    }

    // A save that fails leaves whatever was there before, and says so.
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
        QVERIFY(writeFile(QStringLiteral("settings"), "old\n"));
        QVERIFY(QDir::current().mkdir(QStringLiteral("folder")));
        const QStringList before = s->files();
        s->fill(1, QStringLiteral("a"));
        form->saveName = s->dir.filePath(name);
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

        QCOMPARE(form->errors, QStringList{SAVE_MSG});
        QCOMPARE(s->read(QStringLiteral("settings")), QByteArray("old\n"));
        QCOMPARE(s->files(), before);
    }

    // The real dialogs: their names, captions and start, and the program's
    // own overwrite question instead of the dialog's.
    void dialogs_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("overwrite") << true;
        QTest::newRow("keep") << false;
    }
    void dialogs()
    {
        QFETCH(bool, yes);
        delete s->form;
        auto* real = new DialogForm;
        s->form = real;
        form = nullptr;
        QVERIFY(writeFile(QStringLiteral("settings"), MAGIC + "1\n2\n3\n4\n5\n1\nhola\n"));
        const QString path = s->dir.filePath(QStringLiteral("settings"));

        QStringList seen;
        auto pick = [&seen, &path, real](QFileDialog* dialog) {
            seen << dialog->objectName() << dialog->windowTitle()
                 << QString::number(dialog->testOption(QFileDialog::DontConfirmOverwrite))
                 << QDir(dialog->directory()).canonicalPath();
            QCOMPARE(dialog->parentWidget(), static_cast<QWidget*>(real));
            // Typed as an operator would: selectFile() leaves a focused name field alone.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(path);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the name
        };
        whenModal<QFileDialog>(pick);
        real->fileOpen();
        QCOMPARE(real->word_text->text(), QStringLiteral("hola"));

        real->word_text->setText(QStringLiteral("adios"));
        whenModal<QFileDialog>([&](QFileDialog* dialog) {
            pick(dialog);
            whenModal<QMessageBox>([&](QMessageBox* box) {
                seen << box->windowTitle() << box->text();
                const bool yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
                QTest::keyClick(box, yes ? Qt::Key_Return : Qt::Key_Escape);
                QVERIFY(yesIsDefault);
            });
        });
        real->fileSave();

        QCOMPARE(real->errors, QStringList());
        QCOMPARE(s->read(path), MAGIC + "1\n2\n3\n4\n5\n1\n" + (yes ? "adios\n" : "hola\n"));
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
