#include "main_form.h"

#include "interrupt.h"
#include "nubtactile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QMessageBox>

#include <string>

namespace
{

// The normal cursor while the operator reads a box, even while a send is
// being prepared under the busy one.
class NormalCursor
{
public:
    NormalCursor() : busy(QApplication::overrideCursor() != nullptr)
    {
        if (busy)
            QApplication::restoreOverrideCursor();
    }
    ~NormalCursor()
    {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

private:
    const bool busy;
};

} // namespace

void main_form::tellProblem(const std::string& message)
{
    const NormalCursor normal;
    error(message.c_str());
}

void main_form::reportLogProblem()
{
    tellProblem(files.logProblem());
}

bool main_form::confirmSendUnlogged(const QString& fileName)
{
    QMessageBox question(QMessageBox::Question, QStringLiteral("NUBTactile"),
                         tr("Another program is writing %1 for this patient now.\n"
                            "Send without logging this session?")
                             .arg(fileName),
                         QMessageBox::Yes | QMessageBox::No, this);
    // Plain text: a file name is shown as it is, never read as markup.
    question.setTextFormat(Qt::PlainText);
    // Nothing goes out unless the operator says so: Return and Escape alike
    // keep the stimulus back.
    question.setDefaultButton(QMessageBox::No);
    question.setEscapeButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

bool main_form::takePatientFiles(bool withLog)
{
    if (files.isSettled())
        return true;
    const QString name = patient_name_text->text();
    const QString lastName = patient_last_name_text->text();
    // A single shot or a text file sent without names is summarised only.
    if (!log_check->isChecked() || PatientFiles::isBlank(name) || PatientFiles::isBlank(lastName)) {
        files.forgo();
        return true;
    }
    if (files.take(name, lastName, withLog) == PatientFiles::Taken::Busy) {
        bool unlogged = false;
        {
            const NormalCursor normal;
            unlogged = confirmSendUnlogged(files.busyName());
        }
        if (!unlogged)
            return false;
        files.forgo();
        if (data)
            data->log = false;
        return true;
    }
    // Told before the stimulus; the send goes out all the same.
    if (!files.logProblem().empty())
        reportLogProblem();
    if (!files.timingProblem().empty())
        tellProblem(files.timingProblem());
    if (!files.setAside().empty())
        tellProblem("The timing file had the columns of an earlier version; it was renamed to " +
                    files.setAside() + " and a new one begins.");
    return true;
}

void main_form::reportLogFailure()
{
    if (files.takeLogFailure())
        reportLogProblem();
}

void main_form::startLog()
{
    beginLog();
    const Interrupt never;
    std::atomic<int> permille{0};
    writeLogHead(never, permille);
    reportLogFailure();
}

void main_form::beginLog()
{
    sendStarted = QDateTime::currentDateTime();
    if (!data)
        return;
    data->log = log_check->isChecked();
}

void main_form::writeLogHead(const Interrupt& cancel, std::atomic<int>& permille)
{
    const QDateTime started = sendStarted;
    if (!data || !data->log)
        return;
    files.writeLogHead(*data, started, cancel, permille);
}

void main_form::closeLog()
{
    files.closeLog(data && data->log);
    reportLogFailure();
}
