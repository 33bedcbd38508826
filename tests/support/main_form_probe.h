#ifndef MAIN_FORM_PROBE_H
#define MAIN_FORM_PROBE_H

#include "main_form.h"
#include "named.h"
#include "portio_sim.h"
#include "pport.h"
#include "virtual_clock.h"

#include <QtTest>
#include <QtWidgets>

// A fresh working directory, entered before the window reads its port file
// (the next one replaces it), and the virtual clock. `syncFile`, when not
// null, is there as the synchronisation settings before the window starts.
struct ProbeWorld {
    explicit ProbeWorld(const QByteArray& syncFile)
    {
        QFile file("NUBTactile_sync.cfg");
        if (!syncFile.isNull() && !(file.open(QIODevice::WriteOnly) && file.write(syncFile)))
            qFatal("the synchronisation file could not be written");
    }
    QTemporaryDir dir;
    bool entered = QDir::setCurrent(dir.path());
    VirtualClock vc;
};

// The main window in its world, on the simulated port, with its messages
// recorded and its file dialogs answered by the test.
class ProbeForm : public ProbeWorld, public main_form
{
public:
    explicit ProbeForm(const QByteArray& syncFile = {}) : ProbeWorld(syncFile) {}
    QStringList errors, questions;
    QString openName, saveName;
    // The answer to the question before a text file that would not be sent as
    // written; the question goes to `questions`.
    bool sendAsRead = false;
    const std::size_t firstWrite = portsim::writes().size();

    void error(const char* msg) override { errors << QString::fromUtf8(msg); }

    // The widgets that most tests work.
    QPushButton* sendButton() const { return named<QPushButton>(*this, "send_button"); }
    QPushButton* pinsButton() const { return named<QPushButton>(*this, "pins_button"); }
    QCheckBox* logCheck() const { return named<QCheckBox>(*this, "log_check"); }
    QComboBox* modeCombo() const { return named<QComboBox>(*this, "mode_combo"); }

    // Sets name, last name, single-shot duration, trigger, pause, hold,
    // interval, loop, word and length from `values` ("|" between them), then
    // the mode.
    void setFields(int mode, const QString& values)
    {
        const QList<QLineEdit*> fields = findChildren<QLineEdit*>();
        for (int i = 0; i < fields.size(); ++i)
            fields[i]->setText(values.section('|', i, i));
        modeCombo()->setCurrentIndex(mode);
    }

    // The next question box is answered with `key`; its caption and text go
    // to `questions`, marked when they would be read as markup.
    void answer(Qt::Key key)
    {
        QTimer::singleShot(0, this, [this, key] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                questions << box->windowTitle() + ' ' + box->text() +
                                 (box->textFormat() == Qt::PlainText ? "" : " (markup)");
                QTest::keyClick(box, key);
            }
        });
    }

    // Runs `action` on the window's thread, and waits for it, from an action
    // of the virtual clock: a send plays on a thread of its own, which stops
    // there until the window has done what an operator did at that moment.
    static void onWindowThread(const std::function<void()>& action)
    {
        QMetaObject::invokeMethod(qApp, action, Qt::BlockingQueuedConnection);
    }

    // Data-register writes since the window was made, as "ms:byte" timed from
    // the first of them.
    QString edges() const
    {
        QStringList out;
        const auto& writes = portsim::writes();
        for (auto w = writes.begin() + firstWrite; w < writes.end(); ++w)
            if (w->address == unsigned(LPT1_BASE))
                out << QString::number((w->time - writes[firstWrite].time) / NS_PER_MS) + ':' +
                           QString::number(w->value);
        return out.join(' ');
    }

private:
    QString openFileName() override { return openName; }
    QString saveFileName() override { return saveName; }
    bool confirmTextFile(const QString& problems) override
    {
        questions << problems;
        return sendAsRead;
    }
};

// What the working directory holds.
inline QStringList workFiles()
{
    return QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

#endif
