#ifndef MAIN_FORM_H
#define MAIN_FORM_H

#include "port_refusal.h"
#include "send_controller.h"

#include <QMainWindow>
#include <QPixmap>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
struct TimingSummary;

// The stimulus console: patient, single-shot pins, times and the sequence to
// send, with the File, Parallel Port and Help menus. Built in code at fixed
// rectangles; init() runs last and claims the port. A refusal at start is kept
// for main() (portRefusedAtStart); one on a change of port ends the program.
// The window alone touches its widgets: its sends go to a SendController,
// which reads the form through sendForm() and speaks through error() and the
// questions. A test reaches a widget by its object name, which stays fixed.
class main_form : public QMainWindow, private SendController::Window
{
    Q_OBJECT

public:
    explicit main_form(QWidget* parent = nullptr, const char* name = nullptr,
                       Qt::WindowFlags fl = Qt::Window);
    ~main_form() override;

    // The sends' messages and number rule, which the Trainer shares.
    static constexpr auto& NO_MEMORY = SendController::NO_MEMORY;
    static constexpr auto& PORT_FAILED = SendController::PORT_FAILED;
    static constexpr auto& NO_THREAD = SendController::NO_THREAD;
    static bool isNumber(const char* text) { return SendController::isNumber(text); }
    static std::uint32_t numberOf(const char* digits) { return SendController::numberOf(digits); }

    // True when the form allows a text or random send; otherwise shows the
    // message of the first rule that fails through error().
    bool checkValues() override;

    using QMainWindow::close;

    // Why the port chosen at start could not be claimed; null when it was.
    // main() then tells the operator and ends with status 1, the window unshown.
    const PortRefusal* portRefusedAtStart() const;

    // Tells the operator why the port was refused: each line on standard
    // error, in order, then all of them in the critical box of error() when
    // there is a display to show it on.
    void tellPortRefusal(const PortRefusal& refusal);

    // True while a send's record exists: from a send button's press until
    // that send has ended.
    bool holdsSendRecord() const { return sender.holdsRecord(); }

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
    void error(const char* msg) override;
    virtual void startLog();
    virtual void closeLog();
    // The Synchronisation menu: start on click or on a pulse, as its entries
    // are checked, and the settings dialog.
    virtual void synchronisationChosen();
    virtual void synchronisationSettings();

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
    QMenu* synchronisationMenu;
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
    QActionGroup* synchronisationAction;
    QAction* syncOffAction;
    QAction* syncPulseAction;
    QAction* syncSettingsAction;

    // The status bar's account of the last send's timing; the sign shows only
    // when a cell was off by more than 1 ms.
    QLabel* timing_summary_label = nullptr;
    QLabel* timing_warning_label = nullptr;
    // Which socket the program drives, after every successful claim.
    QLabel* port_label = nullptr;
    // Why the port file or the synchronisation file could not be read at
    // start; hidden when they could.
    QLabel* port_file_label = nullptr;
    // What the sends wait for and record, under the form; hidden when they
    // start on click and record no answers.
    QLabel* sync_label = nullptr;

    QPixmap image0;
    QPixmap image1;
    QPixmap image2;
    QPixmap image3;

    bool closing = false;
    // Closing was asked for while a send ran: it closes once the send ends.
    bool closeAfterSend = false;
    std::optional<PortRefusal> refusedAtStart;
    // The window's height as built, with a status bar of one line.
    int designHeight = 0;

    SendController sender{*this};

    // Claims the port of the LPT action that is on, into `port`.
    std::optional<PortRefusal> claimChosenPort();

    // Makes `settings` hold for the sends to come, saved at once when
    // `save`; a failure to save is told, and they hold all the same.
    void applySynchronisation(const Synchronisation& settings, bool save);

    void buildTimingSummary();
    // The window's height for the status bar's lines.
    void fitStatusBar();

    // What the sends ask of the window.
    SendForm sendForm() const override;
    void showTimingSummary(const TimingSummary& summary) override;
    void showLeftOut(const QString& note) override;
    void sendEnded() override;

    // The file operations' questions, apart so that a test can answer them.
    // Full path of the chosen file, or an empty string when cancelled.
    virtual QString openFileName();
    virtual QString saveFileName();
    // True when the operator agrees to replace `fileName`.
    virtual bool confirmOverwrite(const QString& fileName);
    // True when the operator agrees to send a text file whose entries would
    // not go out as written; `problems` says how they would.
    bool confirmTextFile(const QString& problems) override;
    // True when the operator agrees to send without logging, since another
    // program is writing the patient's `fileName`.
    bool confirmSendUnlogged(const QString& fileName) override;
};

#endif
