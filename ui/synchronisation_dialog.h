#ifndef SYNCHRONISATION_DIALOG_H
#define SYNCHRONISATION_DIALOG_H

#include "synchronisation.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QSpinBox;

// The settings of the Synchronisation menu: which pulse starts a send, and
// which answers are recorded. Every field holds only what the settings
// accept, so OK always gives valid settings; Cancel and Escape change nothing.
class SynchronisationDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SynchronisationDialog(const Synchronisation& settings, QWidget* parent = nullptr);

    // What the fields say; waitForPulse as it was given.
    Synchronisation settings() const;

private:
    bool waitForPulse;
    QSpinBox* pulse_number_spin;
    QComboBox* pulse_pin_combo;
    QComboBox* pulse_edge_combo;
    QSpinBox* time_limit_spin;
    QCheckBox* answer_pin_checks[5];
    QComboBox* press_edge_combo;
    QSpinBox* response_window_spin;
    QSpinBox* dead_time_spin;
};

#endif
