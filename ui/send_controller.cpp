#include "send_controller.h"

#include "cp437.h"
#include "entry_queue.h"
#include "interrupt.h"
#include "nubtactile.h"
#include "pins.h"
#include "pport.h"
#include "termination.h"
#include "time_audit.h"
#include "word_list.h"

#include <QApplication>
#include <QByteArray>

#include <algorithm>
#include <iterator>
#include <new>
#include <system_error>

namespace
{

// The send_mode column of the time audit for each mode.
const char* const SEND_MODES[] = {"single_shot", "text", "random_valid", "random_non_valid",
                                  "random_mixed"};

// How many of a text file's problems the question lists.
constexpr std::size_t LISTED_PROBLEMS = 5;

// The magic line is line 1 of a text file; its body begins on line 2.
constexpr std::uint64_t BODY_LINE = 2;

// The window's side of a send's observers: the cells to the time audit, the
// input edges to the events' audit.
class Audits : public TransmissionObserver
{
public:
    Audits(TimeAudit& cells, EventAudit& edges) : cells(cells), edges(edges) {}
    void cellPresented(const CellTiming& cell) override { cells.cellPresented(cell); }
    void inputSeen(const InputEdge& edge) override { edges.inputSeen(edge); }

private:
    TimeAudit& cells;
    EventAudit& edges;
};

const char* sendModeName(int mode)
{
    return mode >= 0 && mode < int(std::size(SEND_MODES)) ? SEND_MODES[mode] : "unknown";
}

// The field's text as the 8-bit string that the number test and the
// conversion see; a character outside Latin-1 becomes '?', so it can never
// pass for a digit.
QByteArray fieldBytes(const QString& field)
{
    return field.toLatin1();
}

bool isNumberField(const QString& field)
{
    const QByteArray bytes = fieldBytes(field);
    // An embedded NUL would end the C string early and let "12<NUL>x" pass.
    return !bytes.contains('\0') && SendController::isNumber(bytes.constData());
}

std::uint32_t fieldNumber(const QString& field)
{
    return SendController::numberOf(fieldBytes(field).constData());
}

// The question asked before a text file whose times are not all plain
// numbers is sent.
QString problemsQuestion(const WordList::Check& check)
{
    const QString count = QString::number(check.problems);
    QString text = QStringLiteral("This text file will not be sent as it is written (") +
                   (check.problems == 1 ? QStringLiteral("1 problem") : count + " problems") +
                   (check.problems > check.listed.size()
                        ? QStringLiteral("; the first %1 are listed").arg(check.listed.size())
                        : QString()) +
                   "):\n";
    for (const std::string& problem : check.listed)
        text += '\n' + QString::fromStdString(problem);
    return text + "\n\nSend it all the same, read this way?";
}

// The busy cursor while a send is being prepared: drawing or converting
// millions of codes and logging them takes seconds before the progress dialog
// can appear, and the window cannot repaint meanwhile.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

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

void SendController::RecordDeleter::operator()(Braille_Data* record) const noexcept
{
    delete record;
}

SendController::SendController(Window& window) : window(window) {}

SendController::~SendController() = default;

bool SendController::isNumber(const char* text)
{
    if (!text || !*text)
        return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
    }
    return true;
}

std::uint32_t SendController::numberOf(const char* digits)
{
    constexpr std::uint32_t limit = 2147483647u;
    std::uint32_t value = 0;
    for (; *digits; ++digits) {
        const auto digit = std::uint32_t(*digits - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return value;
}

bool SendController::check(const SendForm& form)
{
    if (form.log) {
        // A name of blanks or invisible characters would name a file that
        // tells no patient apart.
        if (PatientFiles::isBlank(form.name)) {
            window.error("You must insert the patients name");
            return false;
        }
        if (PatientFiles::isBlank(form.lastName)) {
            window.error("You must insert the patients last name");
            return false;
        }
    }
    for (const QString* time :
         {&form.trigger, &form.afterTrigger, &form.charDuration, &form.interval}) {
        if (!isNumberField(*time)) {
            window.error("Some of the times have a wrong format. Please check them and try again");
            return false;
        }
    }
    if (form.mode <= MODE_SINGLE_SHOT) {
        window.error("You must select a mode before sending");
        return false;
    }
    if (form.mode == MODE_TEXT && !isNumberField(form.loops)) {
        window.error("The loop number has a wrong format. Please check it and try again");
        return false;
    }
    if (form.mode >= MODE_RANDOM_VALID && !isNumberField(form.length)) {
        window.error(
            "The random sequence length has a wrong format. Please check it and try again");
        return false;
    }
    return true;
}

SendController::Request SendController::readSequence(const SendForm& form)
{
    data->triggerTime = fieldNumber(form.trigger);
    data->afterTriggerTime = fieldNumber(form.afterTrigger);
    data->charTime = fieldNumber(form.charDuration);
    data->intervalTime = fieldNumber(form.interval);
    Request request;
    leftOutNote.clear();
    if (form.mode == MODE_TEXT) {
        LeftOut leftOut;
        leftOut.addText(form.word);
        leftOutNote = leftOut.note();
        data->loops = fieldNumber(form.loops);
        data->mode = MODE_TEXT;
        request.bytes = textToCp437(form.word);
        // NUL has no cell; left in, it would end the C string and drop the rest.
        request.bytes.erase(std::remove(request.bytes.begin(), request.bytes.end(), '\0'),
                            request.bytes.end());
    } else {
        data->loops = 1;
        data->mode = form.mode;
        request.length = fieldNumber(form.length);
    }
    return request;
}

bool SendController::encodeSequence(const Request& request, const Interrupt& cancel,
                                    std::atomic<int>& permille)
{
    const int encoded =
        data->mode == MODE_TEXT
            ? setWord(*data, request.bytes.c_str())
            : generateRandomSequence(*data, request.length, [&](std::uint32_t drawn) {
                  permille = int(500 * std::uint64_t(drawn) / request.length);
                  return !cancel.raised();
              });
    if (encoded == ENCODE_NO_MEMORY)
        throw std::bad_alloc();
    permille = 500;
    return encoded != ENCODE_CANCELLED;
}

// Both send buttons end any failed allocation, wherever it happens, in the
// memory message: the record is released with its log, and the program goes
// on. Failures before the transmission leave nothing sent and nothing logged;
// one during it ends the log entry as aborted. Drawing the codes and writing
// their log line may take minutes: it happens on a thread of its own, under a
// dialog that Cancel ends, with nothing sent.
void SendController::sendSequence()
{
    // A send is already running (the button was reached while the window's
    // events ran during it): it goes on undisturbed.
    if (SendProgress::running())
        return;
    if (!window.checkValues())
        return;
    const auto abandon = [this] {
        files.endLogAfterFailure();
        reportLogFailure();
        data.reset();
    };
    try {
        bool prepared = false;
        {
            const BusyCursor busy;
            data.reset(new Braille_Data);
            const SendForm form = window.sendForm();
            const Request request = readSequence(form);
            beginLog(form);
            // Another program writing this patient's files, and the operator
            // would rather not send unlogged: nothing goes out.
            if (!takePatientFiles(data->log)) {
                data.reset();
                return;
            }
            prepared =
                SendProgress::prepare([&](const Interrupt& cancel, std::atomic<int>& permille) {
                    if (!encodeSequence(request, cancel, permille))
                        return;
                    // The send begins now, however long the codes took to draw.
                    sendStarted = QDateTime::currentDateTime();
                    writeLogHead(cancel, permille);
                });
        }
        // A log failure on the preparation's thread is told on this one.
        reportLogFailure();
        if (!prepared) {
            abandon();
            afterSend();
            return;
        }
        send();
    } catch (const std::bad_alloc&) {
        reportLogFailure();
        abandon();
        window.error(NO_MEMORY);
    } catch (const std::system_error& failure) {
        abandon();
        window.error((std::string(NO_THREAD) + failure.what()).c_str());
    }
}

void SendController::sendPins()
{
    if (SendProgress::running())
        return;
    const SendForm form = window.sendForm();
    if (!isNumberField(form.pinsDuration)) {
        window.error("The duration time has a wrong format. Please check it and try again");
        return;
    }
    try {
        sendStarted = QDateTime::currentDateTime();
        data.reset(new Braille_Data);
        data->mode = MODE_SINGLE_SHOT;
        data->charTime = fieldNumber(form.pinsDuration);
        data->log = false;
        leftOutNote.clear();
        for (int i = 0; i < 8; ++i)
            data->pins[i] = form.pins[i];
        send();
    } catch (const std::bad_alloc&) {
        data.reset();
        window.error(NO_MEMORY);
    } catch (const std::system_error& failure) {
        data.reset();
        window.error((std::string(NO_THREAD) + failure.what()).c_str());
    }
}

void SendController::send()
{
    if (!data)
        return;
    const Braille_Data& record = *data;
    const Outcome outcome =
        transmit(sendModeName(data->mode), [&record](TransmissionObserver* audit,
                                                     const Synchronisation& settings) {
            return SendProgress::run(
                [&record, &settings](TransmissionObserver& observer, const Interrupt& interrupt) {
                    return sendToParallelPort(record, observer, interrupt, settings);
                },
                audit, {}, &settings);
        });
    window.showLeftOut(leftOutNote);
    if (outcome != Outcome::Completed && data->log)
        files.appendLog("Aborted!\n");
    reportLogFailure();
    closeLog();
    data.reset();
    afterSend();
}

void SendController::sendTextFile(std::istream& in)
{
    playTextFile(in);
    afterSend();
}

void SendController::playTextFile(std::istream& in)
{
    const std::istream::pos_type body = in.tellg();
    const std::string unreadable = "The text file could not be read past ";
    WordList whole(in, BODY_LINE);
    const WordList::Check check = whole.check(LISTED_PROBLEMS);
    if (!check.readable) {
        window.error((unreadable + whole.failure() + ". Nothing was sent.").c_str());
        return;
    }
    if (check.problems != 0 && !window.confirmTextFile(problemsQuestion(check)))
        return;
    in.clear();
    if (!in.seekg(body)) {
        window.error("The text file could not be read again. Nothing was sent.");
        return;
    }
    sendStarted = QDateTime::currentDateTime();
    WordList list(in, BODY_LINE);
    list.expectBytes(check.bytes);
    EntryQueue queue;
    Outcome outcome = Outcome::Completed;
    try {
        outcome = transmit("text_file", [&list, &queue](TransmissionObserver* audit,
                                                        const Synchronisation& settings) {
            return SendProgress::run(
                [&queue, &settings](TransmissionObserver& observer, const Interrupt& interrupt) {
                    return sendToParallelPort(queue, observer, interrupt, settings);
                },
                audit, [&](Interrupt& wake) { return list.supply(queue, wake); }, &settings);
        });
    } catch (const std::system_error& failure) {
        window.error((std::string(NO_THREAD) + failure.what()).c_str());
        return;
    }
    window.showLeftOut(list.leftOut().note());
    if (outcome == Outcome::FileUnreadable && !pendingSignal())
        window.error((unreadable + list.failure() + ". The entries before it were sent.").c_str());
}

void SendController::afterSend()
{
    endIfSignalled();
    window.sendEnded();
}

Outcome SendController::transmit(const char* sendMode, const Play& play)
{
    // The send plays what was set when it began: the transmission's thread
    // reads its own copy, never the one the menu writes.
    const Synchronisation settings = sync;
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
    const std::string port = drivenPort();
    TimeAudit audit(files.timing(), started.toStdString(), sendMode, port);
    EventAudit edges(files.events(), started.toStdString(), sendMode, port, settings.pressRising);
    Audits audits(audit, edges);
    const SendProgress::Result result = play(&audits, settings);
    const bool saved = audit.finish();
    const bool edgesSaved = edges.finish();
    // A send cut short says so: its worst times cover only the cells it had.
    TimingSummary summary = audit.summary();
    summary.aborted = result.outcome != Outcome::Completed;
    summary.answersWatched = settings.watchesAnswers();
    summary.answers = edges.answers();
    window.showTimingSummary(summary);
    // A signal ends the program once the send's files are complete: no box
    // may keep it waiting for an operator who is gone.
    if (pendingSignal())
        return result.outcome;
    tellFileProblems(saved, edgesSaved, result);
    if (result.outcome == Outcome::NoPulse)
        window.error(("Nothing was sent: pulse " + std::to_string(settings.pulseNumber) +
                      " did not come on pin " + std::to_string(settings.pulsePin) + " within " +
                      std::to_string(settings.timeLimitMs) + " ms (" +
                      std::to_string(result.pulses) + (result.pulses == 1 ? " pulse" : " pulses") +
                      " came).")
                         .c_str());
    if (result.outcome == Outcome::OutOfMemory)
        window.error(NO_MEMORY);
    if (result.outcome == Outcome::PortFailed)
        window.error((PORT_FAILED + portio_failure()).c_str());
    return result.outcome;
}

void SendController::tellFileProblems(bool timingSaved, bool eventsSaved,
                                      const SendProgress::Result& result)
{
    if (!timingSaved) {
        files.timingFailed();
        window.error(files.timingProblem().c_str());
    }
    if (!eventsSaved) {
        files.eventsFailed();
        window.error(files.eventsProblem().c_str());
    }
    if (result.lostCells != 0)
        window.error((std::to_string(result.lostCells) +
                      " cells were presented while the window could not take their timing in "
                      "time; they have no row in the timing file.")
                         .c_str());
    if (result.lostEdges != 0)
        window.error((std::to_string(result.lostEdges) +
                      " pulses or answers were seen while the window could not take them in "
                      "time; they have no row in the events file.")
                         .c_str());
}

void SendController::startLog()
{
    beginLog(window.sendForm());
    const Interrupt never;
    std::atomic<int> permille{0};
    writeLogHead(never, permille);
    reportLogFailure();
}

void SendController::beginLog(const SendForm& form)
{
    sendStarted = QDateTime::currentDateTime();
    if (!data)
        return;
    data->log = form.log;
}

void SendController::writeLogHead(const Interrupt& cancel, std::atomic<int>& permille)
{
    const QDateTime started = sendStarted;
    if (!data || !data->log)
        return;
    files.writeLogHead(*data, started, cancel, permille);
}

void SendController::closeLog()
{
    files.closeLog(data && data->log);
    reportLogFailure();
}

void SendController::reportLogFailure()
{
    if (files.takeLogFailure())
        tellProblem(files.logProblem());
}

void SendController::tellProblem(const std::string& message)
{
    const NormalCursor normal;
    window.error(message.c_str());
}

bool SendController::takePatientFiles(bool withLog)
{
    if (files.isSettled())
        return true;
    const SendForm form = window.sendForm();
    // A single shot or a text file sent without names is summarised only.
    if (!form.log || PatientFiles::isBlank(form.name) || PatientFiles::isBlank(form.lastName)) {
        files.forgo();
        return true;
    }
    if (files.take(form.name, form.lastName, withLog, sync.active()) == PatientFiles::Taken::Busy) {
        bool unlogged = false;
        {
            const NormalCursor normal;
            unlogged = window.confirmSendUnlogged(files.busyName());
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
        tellProblem(files.logProblem());
    if (!files.timingProblem().empty())
        tellProblem(files.timingProblem());
    if (!files.eventsProblem().empty())
        tellProblem(files.eventsProblem());
    if (!files.setAside().empty())
        tellProblem("The timing file had the columns of an earlier version; it was renamed to " +
                    files.setAside() + " and a new one begins.");
    if (!files.eventsSetAside().empty())
        tellProblem("The events file had other columns; it was renamed to " +
                    files.eventsSetAside() + " and a new one begins.");
    return true;
}
