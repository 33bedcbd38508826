#ifndef MAIN_FORM_H
#define MAIN_FORM_H

#include "patient_files.h"
#include "port_refusal.h"
#include "send_progress.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPixmap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QActionGroup;
class QApplication;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
struct Braille_Data;
class Interrupt;
class TransmissionObserver;
struct TimingSummary;

// The stimulus console: patient, single-shot pins, times and the sequence to
// send, with the File, Parallel Port and Help menus. Built in code at fixed
// rectangles; init() runs last and claims the port. A refusal at start is kept
// for main() (portRefusedAtStart); one on a change of port ends the program.
class main_form : public QMainWindow
{
    Q_OBJECT

public:
    explicit main_form(QWidget* parent = nullptr, const char* name = nullptr,
                       Qt::WindowFlags fl = Qt::Window);
    ~main_form() override;

    // What the operator reads whenever memory runs out.
    static constexpr char NO_MEMORY[] =
        "Not enough memory. Please stop some programs you are using and try again";
    // What the operator reads when no thread can be started for a send; the
    // system's reason follows.
    // What the operator reads when the port failed during a send; the
    // failure (portio_failure()) follows.
    static constexpr char PORT_FAILED[] =
        "The send was stopped, and the data lines lowered, because the port failed: ";
    static constexpr char NO_THREAD[] = "Nothing was sent: the transmission could not be started: ";

    // True when `text` is non-null, non-empty and only the digits 0 to 9.
    static bool isNumber(const char* text);
    // The value of digits that isNumber accepted, in base 10; beyond a signed
    // 32-bit int, 2147483647.
    static std::uint32_t numberOf(const char* digits);

    // True when the form allows a text or random send; otherwise shows the
    // message of the first rule that fails through error().
    virtual bool checkValues();

    using QMainWindow::close;

    // Why the port chosen at start could not be claimed; null when it was.
    // main() then tells the operator and ends with status 1, the window unshown.
    const PortRefusal* portRefusedAtStart() const;

    // Tells the operator why the port was refused: each line on standard
    // error, in order, then all of them in the critical box of error() when
    // there is a display to show it on.
    void tellPortRefusal(const PortRefusal& refusal);

    QGroupBox* patient_box;
    QLineEdit* patient_name_text;
    QLineEdit* patient_last_name_text;
    QLabel* patient_last_name_label;
    QLabel* patient_name_label;
    QCheckBox* log_check;
    QGroupBox* pin_group;
    QLabel* textLabel2;
    QLineEdit* pins_duration_text;
    QCheckBox* pin_6_check;
    QCheckBox* pin_4_check;
    QCheckBox* pin_2_check;
    QCheckBox* pin_0_check;
    QCheckBox* pin_1_check;
    QCheckBox* pin_3_check;
    QCheckBox* pin_5_check;
    QCheckBox* pin_7_check;
    QPushButton* pins_button;
    QGroupBox* time_group_box;
    QLineEdit* trigger_time_text;
    QLineEdit* after_trigger_time_text;
    QLineEdit* char_time_text;
    QLineEdit* after_char_time_text;
    QLabel* textLabel1;
    QLabel* textLabel1_3;
    QLabel* loop_count_label;
    QLabel* textLabel1_4;
    QLabel* textLabel1_2;
    QPushButton* send_button;
    QLineEdit* loop_count_text;
    QGroupBox* sequence_box;
    QLabel* length_label;
    QLineEdit* word_text;
    QLabel* word_label;
    QComboBox* mode_combo;
    QLineEdit* sequence_length_text;

    QMenuBar* MenuBar;
    QMenu* fileMenu;
    QMenu* parallelPortMenu;
    QMenu* helpMenu;

    QAction* fileNewMenu;
    QAction* fileExitMenu;
    QAction* helpAboutMenu;
    QAction* fileOpenMenu;
    QAction* fileSaveMenu;
    QAction* fileTrainingAction;
    QActionGroup* parallel_portAction;
    QAction* LPT1Action;
    QAction* LPT2Action;

    // Releases a record where its type is complete, so that this header
    // needs only its name.
    struct RecordDeleter {
        void operator()(Braille_Data* record) const noexcept;
    };

    // The record of the send in progress; null whenever no send runs.
    std::unique_ptr<Braille_Data, RecordDeleter> data;
    // Base I/O address of the port claimed last (0x378 LPT1, 0x278 LPT2).
    int port = 0;

    // Called with the timing summary line (UTF-8) after every send, when set:
    // the simulated program prints it on standard error under its trace.
    std::function<void(const std::string&)> timingSummaryListener;

public slots:
    // Claims the port of the LPT action that is on. When it is refused, tells
    // the operator, schedules the window's deletion and ends the event loop
    // with status 1, without the closing path: the port choice saved before
    // stays as it was.
    virtual void initPPort();
    virtual void fileNew();
    virtual void fileOpen();
    virtual void fileSave();
    virtual void trainingSession();
    virtual void helpAbout();
    virtual void setTimes();
    virtual void setPins();
    virtual void send();
    virtual void randomShow();
    virtual void logShow();
    // Modal critical box, caption "NUBTactile", one OK button; `msg` is UTF-8
    // and is not translated.
    virtual void error(const char* msg);
    virtual void startLog();
    virtual void closeLog();

protected slots:
    virtual void languageChange();

private slots:
    void init();
    // Saves the port choice, lowers the data lines and ends the program (the
    // one shutdown path is closeEvent); `alsoDelete` is ignored.
    bool close(bool alsoDelete);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

    // False on the platforms without a display ("offscreen", "minimal"), where
    // a modal box could never be dismissed and would keep the program from
    // ending.
    virtual bool hasDisplay() const;

private:
    QPixmap image0;
    QPixmap image1;
    QPixmap image2;
    QPixmap image3;
    bool closing = false;
    // Once a send and its files are complete: ends the program when a signal
    // ended the send, closes the window when that was asked for meanwhile.
    void afterSend();
    // Closing was asked for while a send ran: it closes once the send ends.
    bool closeAfterSend = false;
    std::optional<PortRefusal> refusedAtStart;
    // The status bar's account of the last send's timing; the sign shows only
    // when a cell was off by more than 1 ms.
    QLabel* timing_summary_label = nullptr;
    QLabel* timing_warning_label = nullptr;
    // Which socket the program drives, after every successful claim.
    QLabel* port_label = nullptr;
    // Why the port file could not be read at start; hidden when it could.
    QLabel* port_file_label = nullptr;
    // When the send in progress began: the log's "Session started on" and the
    // time audit's session_start are this one moment.
    QDateTime sendStarted;
    // The patient's log and timing file, held from before the log entry
    // begins until it is closed.
    PatientFiles files;

    // Claims the port of the LPT action that is on, into `port`.
    std::optional<PortRefusal> claimChosenPort();

    // State of the sending and logging slots.

    // What the form asks a text or random send to present, read on the
    // window's thread into the record in `data` (times, loop, mode) and here.
    struct Request {
        std::string bytes;        // text mode: the word in code page 437, NULs left out
        std::uint32_t length = 0; // random modes: the codes to draw
    };
    Request readSequence();
    // Draws or encodes the codes of `request` into `data`, on any thread,
    // telling its progress as 0 to 500 of `permille`. Throws std::bad_alloc
    // when they do not fit in memory; false when `cancel` stopped it.
    bool encodeSequence(const Request& request, const Interrupt& cancel,
                        std::atomic<int>& permille);

    // The send_mode column of the time audit for a mode (0 to 4).
    static const char* sendModeName(int mode);
    void buildTimingSummary();
    // Runs `play` with the send's time audit as its observer of cell times:
    // rows appended to the patient's ".timing.csv" when logging is on (a
    // failure told once, the send going on regardless), and the summary shown
    // afterwards, then what went wrong (a failed port, cells without a row),
    // unless a signal is ending the program. Returns how the send ended.
    Outcome transmit(const char* sendMode,
                     const std::function<SendProgress::Result(TransmissionObserver*)>& play);
    void showTimingSummary(const TimingSummary& summary);
    // The window's height for the status bar's lines.
    void fitStatusBar();
    // The window's height as built, with a status bar of one line.
    int designHeight = 0;

    // The log's part of a send that reads the window: when the send began,
    // whether it is logged and under which name.
    void beginLog();
    // The log entry's head for the record in `data`, when it is logged.
    void writeLogHead(const Interrupt& cancel, std::atomic<int>& permille);
    // Tells a log failure that a write on any thread left untold.
    void reportLogFailure();
    // The log problem message, shown with the normal cursor even while a send
    // is being prepared under the busy one.
    void reportLogProblem();
    // Shows `message` through error() with the normal cursor.
    void tellProblem(const std::string& message);
    // Takes the patient's files for the send about to start (the log too
    // when `withLog`), unless it has them or writes none, and tells what
    // could not be opened. When another program holds them, asks whether to
    // send unlogged; false when the answer is no and nothing may be sent.
    bool takePatientFiles(bool withLog);

    // The file operations' questions, apart so that a test can answer them.
    // Full path of the chosen file, or an empty string when cancelled.
    virtual QString openFileName();
    virtual QString saveFileName();
    // True when the operator agrees to replace `fileName`.
    virtual bool confirmOverwrite(const QString& fileName);
    // True when the operator agrees to send a text file whose entries would
    // not go out as written; `problems` says how they would.
    virtual bool confirmTextFile(const QString& problems);

    // Plays the text file body that `in` is at, once it was read through and
    // found whole, and agreed to when some times are not plain numbers.
    void playTextFile(std::istream& in);

    // Characters the text send in progress leaves out, as the status bar
    // tells them after it.
    QString leftOutNote;
    // Adds `note` under the timing summary, when there is one.
    void showLeftOut(const QString& note);
    // True when the operator agrees to send without logging, since another
    // program is writing the patient's `fileName`.
    virtual bool confirmSendUnlogged(const QString& fileName);
};

#endif
