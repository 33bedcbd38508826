#include "main_form.h"

#include "nubtactile.h"
#include "pins.h"
#include "termination.h"
#include "time_audit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>
#include <iterator>

namespace
{

// The send_mode column for each mode.
const char* const SEND_MODES[] = {"single_shot", "text", "random_valid", "random_non_valid",
                                  "random_mixed"};

} // namespace

const char* main_form::sendModeName(int mode)
{
    return mode >= 0 && mode < int(std::size(SEND_MODES)) ? SEND_MODES[mode] : "unknown";
}

void main_form::buildTimingSummary()
{
    timing_warning_label = new QLabel(statusBar());
    timing_warning_label->setObjectName(QStringLiteral("timing_warning_label"));
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    timing_warning_label->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    timing_warning_label->hide();
    timing_summary_label = new QLabel(statusBar());
    timing_summary_label->setObjectName(QStringLiteral("timing_summary_label"));
    // The line with its warning is wider than the fixed window: it wraps
    // rather than hide how many cells were off.
    timing_summary_label->setWordWrap(true);
    statusBar()->addWidget(timing_warning_label);
    statusBar()->addWidget(timing_summary_label, 1);
    port_file_label = new QLabel(statusBar());
    port_file_label->setObjectName(QStringLiteral("port_file_label"));
    port_file_label->setWordWrap(true);
    port_file_label->hide();
    statusBar()->addWidget(port_file_label, 1);
    port_label = new QLabel(statusBar());
    port_label->setObjectName(QStringLiteral("port_label"));
    // Kept off the window's edge, where the last letter would touch the frame.
    port_label->setContentsMargins(0, 0, style()->pixelMetric(QStyle::PM_LayoutRightMargin), 0);
    statusBar()->addPermanentWidget(port_label);
}

Outcome main_form::transmit(const char* sendMode,
                            const std::function<SendProgress::Result(TransmissionObserver*)>& play)
{
    // With milliseconds, so that two sends in one second keep their rows
    // apart; the log's line shows the same moment to the second.
    const QString started = sendStarted.toString(Qt::ISODateWithMs);
    // A send that is not logged (a single shot, a text file) takes the
    // timing file here, and lets it go when its rows are in.
    struct Release {
        PatientFiles* files;
        ~Release()
        {
            if (files)
                files->release();
        }
    } release{files.isSettled() ? nullptr : &files};
    if (!takePatientFiles(false))
        return Outcome::Aborted;
    // A file that failed to open gets no rows, so it is not told again.
    TimeAudit audit(files.timing(), started.toStdString(), sendMode, drivenPort());
    const SendProgress::Result result = play(&audit);
    const bool saved = audit.finish();
    // A send cut short says so: its worst times cover only the cells it had.
    TimingSummary summary = audit.summary();
    summary.aborted = result.outcome != Outcome::Completed;
    showTimingSummary(summary);
    // A signal ends the program once the send's files are complete: no box
    // may keep it waiting for an operator who is gone.
    if (pendingSignal())
        return result.outcome;
    if (!saved) {
        files.timingFailed();
        error(files.timingProblem().c_str());
    }
    if (result.lostCells != 0)
        error((std::to_string(result.lostCells) +
               " cells were presented while the window could not take their timing in time; "
               "they have no row in the timing file.")
                  .c_str());
    if (result.outcome == Outcome::OutOfMemory)
        error(NO_MEMORY);
    if (result.outcome == Outcome::PortFailed)
        error((PORT_FAILED + portio_failure()).c_str());
    return result.outcome;
}

void main_form::showTimingSummary(const TimingSummary& summary)
{
    const std::string line = summary.text();
    timing_summary_label->setText(QString::fromStdString(line));
    timing_warning_label->setVisible(summary.warning());
    fitStatusBar();
    if (timingSummaryListener)
        timingSummaryListener(line);
}

void main_form::showLeftOut(const QString& note)
{
    // Under the summary, which the next send replaces with its own.
    if (!note.isEmpty())
        timing_summary_label->setText(timing_summary_label->text() + u'\n' + note);
    fitStatusBar();
}

void main_form::fitStatusBar()
{
    // The form keeps its fixed rectangles: a summary of several lines makes
    // the window taller rather than cover the form's lower edge, buttons
    // included.
    const int lines = timing_summary_label->heightForWidth(timing_summary_label->width());
    const int extra = std::max(0, lines - timing_summary_label->fontMetrics().height());
    setFixedHeight(designHeight + extra);
}
