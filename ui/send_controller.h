#ifndef SEND_CONTROLLER_H
#define SEND_CONTROLLER_H

#include "patient_files.h"
#include "send_progress.h"
#include "synchronisation.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

struct Braille_Data;
class Interrupt;
class TransmissionObserver;
struct TimingSummary;

// What a send reads from the main window's form, as typed.
struct SendForm {
    bool log = false; // "Log this session"
    QString name;
    QString lastName;
    // The four times of a text or random send, in milliseconds.
    QString trigger;
    QString afterTrigger;
    QString charDuration;
    QString interval;
    int mode = 0; // the mode selector's item, 0 to 4
    QString loops;
    QString word;
    QString length;
    // The single shot's hold, in milliseconds, and its eight data lines.
    QString pinsDuration;
    std::array<bool, 8> pins{};
};

// The sends of the main window, from its form's values to the port and the
// patient's files: the checks, the stimulus record and its preparation on a
// thread of its own, the transmission with its time audit, what the operator
// is told afterwards, and the log entry. Runs on the window's thread; talks to
// the window only through Window.
class SendController
{
public:
    // What the operator reads whenever memory runs out.
    static constexpr char NO_MEMORY[] =
        "Not enough memory. Please stop some programs you are using and try again";
    // What the operator reads when the port failed during a send; the
    // failure (portio_failure()) follows.
    static constexpr char PORT_FAILED[] =
        "The send was stopped, and the data lines lowered, because the port failed: ";
    // What the operator reads when no thread can be started for a send; the
    // system's reason follows.
    static constexpr char NO_THREAD[] = "Nothing was sent: the transmission could not be started: ";

    // True when `text` is non-null, non-empty and only the digits 0 to 9.
    static bool isNumber(const char* text);
    // The value of digits that isNumber accepted, in base 10; beyond a signed
    // 32-bit int, 2147483647.
    static std::uint32_t numberOf(const char* digits);

    // What a send asks of the window that starts it.
    class Window
    {
    public:
        virtual SendForm sendForm() const = 0;
        // The window's own check of the form before a text or random send.
        virtual bool checkValues() = 0;
        // Tells the operator `msg` (UTF-8) and returns once it was read.
        virtual void error(const char* msg) = 0;
        // True when the operator agrees to send without logging, since
        // another program is writing the patient's `fileName`.
        virtual bool confirmSendUnlogged(const QString& fileName) = 0;
        // True when the operator agrees to send a text file whose entries
        // would not go out as written; `problems` says how they would.
        virtual bool confirmTextFile(const QString& problems) = 0;
        // Shows the timing of the send that just ended.
        virtual void showTimingSummary(const TimingSummary& summary) = 0;
        // Adds `note` (what the send left out, or empty) under the summary.
        virtual void showLeftOut(const QString& note) = 0;
        // A send and its files are complete, and the program goes on.
        virtual void sendEnded() = 0;

    protected:
        ~Window() = default;
    };

    explicit SendController(Window& window);
    ~SendController();
    SendController(const SendController&) = delete;
    SendController& operator=(const SendController&) = delete;

    // True when `form` allows a text or random send; otherwise tells the
    // message of the first rule that fails.
    bool check(const SendForm& form);

    // The Send button: a text or random send of the form, once the window's
    // check allows it. Nothing happens while a send runs.
    void sendSequence();
    // The Single shot button: the eight data lines for the duration typed.
    // Nothing happens while a send runs.
    void sendPins();
    // Transmits the record that sendSequence or sendPins made, then closes
    // its log entry and releases it; nothing without a record.
    void send();
    // Plays the text file body that `in` is at, once it was read through and
    // found whole, and agreed to when some times are not plain numbers.
    void sendTextFile(std::istream& in);

    // The log entry's head for the record in progress, as a send begins.
    void startLog();
    // The log entry's end for the record in progress; releases the files.
    void closeLog();

    // True while a send's record exists: from a send button's press until
    // that send has ended.
    bool holdsRecord() const { return bool(data); }

    // How the sends to come meet the lab's other machines: whether they wait
    // for a scanner's pulse and which answers they record.
    void setSynchronisation(const Synchronisation& settings) { sync = settings; }
    const Synchronisation& synchronisation() const { return sync; }

private:
    // Releases a record where its type is complete, so that this header
    // needs only its name.
    struct RecordDeleter {
        void operator()(Braille_Data* record) const noexcept;
    };

    // What the form asks a text or random send to present, read on the
    // window's thread into the record in `data` (times, loop, mode) and here.
    struct Request {
        std::string bytes;        // text mode: the word in code page 437, NULs left out
        std::uint32_t length = 0; // random modes: the codes to draw
    };
    Request readSequence(const SendForm& form);
    // Draws or encodes the codes of `request` into `data`, on any thread,
    // telling its progress as 0 to 500 of `permille`. Throws std::bad_alloc
    // when they do not fit in memory; false when `cancel` stopped it.
    bool encodeSequence(const Request& request, const Interrupt& cancel,
                        std::atomic<int>& permille);

    // Runs `play` with the send's audits as its observer of cell times and
    // input edges: rows appended to the patient's ".timing.csv" and, when the
    // inputs are watched, ".events.csv" when logging is on (a failure told
    // once, the send going on regardless), and the summary shown afterwards,
    // then what went wrong (no pulse in time, a failed port, cells or edges
    // without a row), unless a signal is ending the program. Returns how the
    // send ended.
    // `play` gets the audits and the synchronisation the send plays with.
    using Play = std::function<SendProgress::Result(TransmissionObserver* audits,
                                                    const Synchronisation& settings)>;
    Outcome transmit(const char* sendMode, const Play& play);
    // Tells the operator about the problems of the files of a send that went
    // on without them.
    void tellFileProblems(bool timingSaved, bool eventsSaved, const SendProgress::Result& result);
    // Plays a text file that was found whole; see sendTextFile.
    void playTextFile(std::istream& in);
    // Once a send and its files are complete: ends the program when a signal
    // ended the send, and lets the window go on.
    void afterSend();

    // The log's part of a send that reads the form: when the send began,
    // whether it is logged.
    void beginLog(const SendForm& form);
    // The log entry's head for the record in `data`, when it is logged.
    void writeLogHead(const Interrupt& cancel, std::atomic<int>& permille);
    // Tells a log failure that a write on any thread left untold.
    void reportLogFailure();
    // Shows `message` through error() with the normal cursor, even while a
    // send is being prepared under the busy one.
    void tellProblem(const std::string& message);
    // Takes the patient's files for the send about to start (the log too
    // when `withLog`), unless it has them or writes none, and tells what
    // could not be opened. When another program holds them, asks whether to
    // send unlogged; false when the answer is no and nothing may be sent.
    bool takePatientFiles(bool withLog);

    Window& window;
    // The record of the send in progress; null whenever no send runs.
    std::unique_ptr<Braille_Data, RecordDeleter> data;
    // When the send in progress began: the log's "Session started on" and the
    // time audit's session_start are this one moment.
    QDateTime sendStarted;
    // The patient's log and timing file, held from before the log entry
    // begins until it is closed.
    PatientFiles files;
    // Characters the text send in progress leaves out, as the status bar
    // tells them after it.
    QString leftOutNote;
    Synchronisation sync;
};

#endif
