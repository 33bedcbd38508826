#ifndef TRAINER_FORM_H
#define TRAINER_FORM_H

#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Presents each character the moment it is typed: every change that lengthens
// the text sends one character (the first that differs from the text handled
// before, both composed as the main window composes its text) as a one-cell
// transmission held for the "Char duration" in ms, with no trigger, pause,
// interval, repetition or log. Modal whatever `modal` says. Return or Space on
// the focused Close button closes the window; Return in the text field does not.
class trainer_form : public QDialog
{
    Q_OBJECT

public:
    explicit trainer_form(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                          Qt::WindowFlags fl = {});
    ~trainer_form() override;

    QGroupBox* groupBox5;
    QLabel* char_duration_label;
    QLineEdit* trainer_text;
    QLineEdit* char_text;
    QPushButton* cancel_button;

    // trainer_text as of the last change this window handled.
    QString lastText;

public slots:
    virtual void init();
    // Handles a new content of trainer_text (connected to its textChanged).
    // The window may be deleted by an event that runs during the send; the
    // call then returns without touching it.
    virtual void sendChar(const QString& string);

protected slots:
    virtual void languageChange();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Shows a modal critical message box over this window with one OK button
    // and returns when it is dismissed. Tests override it.
    virtual void critical(const QString& caption, const QString& text);
};

#endif
