#ifndef MAIN_FORM_PROBE_H
#define MAIN_FORM_PROBE_H

#include "main_form.h"
#include "portio_sim.h"
#include "pport.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A fresh working directory, entered before the window reads its port file,
// and the virtual clock.
struct ProbeWorld {
    QTemporaryDir dir;
    QString previousDir = QDir::currentPath();
    bool entered = QDir::setCurrent(dir.path());
    VirtualClock vc;
    ~ProbeWorld() { QDir::setCurrent(previousDir); }
};

// The main window in its world, on the simulated port, with its messages
// recorded and its file questions answered by the test.
class ProbeForm : public ProbeWorld, public main_form
{
public:
    QStringList errors;
    QString openName, saveName;
    bool overwriteAnswer = false;
    QStringList overwriteAsked;

    void error(const char* msg) override { errors << QString::fromUtf8(msg); }

    // Sets name, last name, trigger, pause, hold, interval, loop, word and
    // length from `values`, then the mode.
    void setFields(int mode, const QStringList& values)
    {
        QLineEdit* const fields[] = {
            patient_name_text,   patient_last_name_text, trigger_time_text, after_trigger_time_text,
            char_time_text,      after_char_time_text,   loop_count_text,   word_text,
            sequence_length_text};
        for (int i = 0; i < 9; ++i)
            fields[i]->setText(values.value(i));
        mode_combo->setCurrentIndex(mode);
    }
    // A text or random send, logged for Alpha Gamma.
    void fill(int mode, const QString& word = "a", const QString& length = "1")
    {
        setFields(mode, {"Alpha", "Gamma", "100", "500", "300", "200", "1", word, length});
    }

    void mark()
    {
        firstWrite = portsim::writes().size();
        start = vc.now();
    }

    // Data-register writes since mark() as "ms:byte", space separated.
    QString edges() const
    {
        QStringList out;
        const auto& writes = portsim::writes();
        for (std::size_t i = firstWrite; i < writes.size(); ++i)
            if (writes[i].address == unsigned(LPT1_BASE))
                out << QStringLiteral("%1:%2")
                           .arg((writes[i].time - start) / NS_PER_MS)
                           .arg(writes[i].value);
        return out.join(' ');
    }

    std::size_t firstWrite = 0;
    std::int64_t start = 0;

private:
    QString openFileName() override { return openName; }
    QString saveFileName() override { return saveName; }
    bool confirmOverwrite(const QString& fileName) override
    {
        overwriteAsked << fileName;
        return overwriteAnswer;
    }
};

// Names in the working directory other than the port file.
inline QStringList workFiles()
{
    QStringList names = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                  QDir::Hidden | QDir::System);
    names.removeAll("NUBTactile_pport.cfg");
    return names;
}

inline QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Ends a test: no send may be left running nor its busy cursor left shown,
// and closing the window must leave no top-level window behind.
inline void releaseForm(std::unique_ptr<ProbeForm>& form)
{
    QVERIFY(!form->data);
    QVERIFY(!QApplication::overrideCursor());
    form.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

#endif
