#ifndef MAIN_FORM_PROBE_H
#define MAIN_FORM_PROBE_H

// What the main window's sending, logging and file tests share: the window
// with its questions answered and its messages recorded, run in a fresh
// working directory on the simulated port and a virtual clock.

#include "main_form.h"
#include "portio_sim.h"
#include "pport.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class ProbeForm : public main_form
{
public:
    QStringList errors;
    QString openName;
    QString saveName;
    bool overwriteAnswer = false;
    QStringList overwriteAsked;

    void error(const char* msg) override { errors << QString::fromUtf8(msg); }

private:
    QString openFileName() override { return openName; }
    QString saveFileName() override { return saveName; }
    bool confirmOverwrite(const QString& fileName) override
    {
        overwriteAsked << fileName;
        return overwriteAnswer;
    }
};

// One test's world: a temporary working directory, the virtual clock and the
// window. Restores the working directory when it ends.
class FormSession
{
public:
    explicit FormSession(bool probe = true) : previousDir(QDir::currentPath())
    {
        QDir::setCurrent(dir.path());
        if (probe)
            form = probeForm = new ProbeForm;
    }
    ~FormSession()
    {
        delete form;
        QDir::setCurrent(previousDir);
    }

    // Fills the fields of a text or random send; logging on with names.
    void fill(int mode, const QString& word = QStringLiteral("a"),
              const QString& length = QStringLiteral("1"))
    {
        form->patient_name_text->setText(QStringLiteral("Alpha"));
        form->patient_last_name_text->setText(QStringLiteral("Gamma"));
        form->trigger_time_text->setText(QStringLiteral("100"));
        form->after_trigger_time_text->setText(QStringLiteral("500"));
        form->char_time_text->setText(QStringLiteral("300"));
        form->after_char_time_text->setText(QStringLiteral("200"));
        form->loop_count_text->setText(QStringLiteral("1"));
        form->word_text->setText(word);
        form->sequence_length_text->setText(length);
        form->mode_combo->setCurrentIndex(mode);
    }

    // Starts counting port writes and times from now.
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
        for (std::size_t i = firstWrite; i < writes.size(); ++i) {
            if (writes[i].address == unsigned(LPT1_BASE))
                out << QStringLiteral("%1:%2")
                           .arg((writes[i].time - start) / NS_PER_MS)
                           .arg(writes[i].value);
        }
        return out.join(QLatin1Char(' '));
    }

    // Names in the working directory other than the port file.
    QStringList files() const
    {
        QStringList names = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                      QDir::Hidden | QDir::System);
        names.removeAll(QStringLiteral("NUBTactile_pport.cfg"));
        return names;
    }

    QByteArray read(const QString& name) const
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir;
    QString previousDir;
    VirtualClock vc;
    main_form* form = nullptr;
    ProbeForm* probeForm = nullptr;
    std::size_t firstWrite = 0;
    std::int64_t start = 0;
};

// Presses Abort the way an operator would: the click waits in the event queue
// until the transmission lets events run.
inline void queueAbortClick(bool* done)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QProgressDialog*>(w);
        if (!dialog || w->objectName() != QLatin1String("NUBTactile") || !w->isVisible())
            continue;
        if (auto* button = dialog->findChild<QPushButton*>()) {
            QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
            *done = true;
        }
    }
}

#endif
