#include "synchronisation_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <iterator>

namespace
{

QSpinBox* msSpin(QWidget* parent, const char* name, int minimum, std::uint32_t value)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(minimum, INT_MAX);
    spin->setSuffix(QStringLiteral(" ms"));
    spin->setValue(int(std::min<std::uint32_t>(value, INT_MAX)));
    return spin;
}

// Rising first, as the settings' own order of the two.
QComboBox* edgeCombo(QWidget* parent, const char* name, const QString& rising,
                     const QString& falling, bool isRising)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->addItems({rising, falling});
    combo->setCurrentIndex(isRising ? 0 : 1);
    return combo;
}

} // namespace

SynchronisationDialog::SynchronisationDialog(const Synchronisation& settings, QWidget* parent)
    : QDialog(parent), waitForPulse(settings.waitForPulse)
{
    setObjectName(QStringLiteral("synchronisation_dialog"));
    setWindowTitle(tr("Synchronisation"));

    auto* pulseBox = new QGroupBox(tr("Start on a pulse"), this);
    auto* pulseForm = new QFormLayout(pulseBox);
    pulse_number_spin = new QSpinBox(pulseBox);
    pulse_number_spin->setObjectName(QStringLiteral("pulse_number_spin"));
    pulse_number_spin->setRange(1, int(Synchronisation::MAX_PULSE_NUMBER));
    pulse_number_spin->setValue(int(settings.pulseNumber));
    pulseForm->addRow(tr("Start on pulse &number:"), pulse_number_spin);
    pulse_pin_combo = new QComboBox(pulseBox);
    pulse_pin_combo->setObjectName(QStringLiteral("pulse_pin_combo"));
    for (const int pin : Synchronisation::INPUT_PINS)
        pulse_pin_combo->addItem(tr("pin %1").arg(pin), pin);
    pulse_pin_combo->setCurrentIndex(pulse_pin_combo->findData(settings.pulsePin));
    pulseForm->addRow(tr("On input &pin:"), pulse_pin_combo);
    pulse_edge_combo = edgeCombo(pulseBox, "pulse_edge_combo", tr("rising (low to high)"),
                                 tr("falling (high to low)"), settings.pulseRising);
    pulseForm->addRow(tr("Pulse &edge:"), pulse_edge_combo);
    time_limit_spin = msSpin(pulseBox, "time_limit_spin", 0, settings.timeLimitMs);
    time_limit_spin->setSpecialValueText(tr("none"));
    pulseForm->addRow(tr("&Time limit:"), time_limit_spin);

    auto* answerBox = new QGroupBox(tr("Record answers"), this);
    auto* answerForm = new QFormLayout(answerBox);
    auto* pins = new QHBoxLayout;
    for (std::size_t i = 0; i < std::size(answer_pin_checks); ++i) {
        const int pin = Synchronisation::INPUT_PINS[i];
        answer_pin_checks[i] = new QCheckBox(QString::number(pin), answerBox);
        answer_pin_checks[i]->setObjectName(QStringLiteral("answer_pin_%1_check").arg(pin));
        answer_pin_checks[i]->setChecked(std::find(settings.answerPins.begin(),
                                                   settings.answerPins.end(),
                                                   pin) != settings.answerPins.end());
        pins->addWidget(answer_pin_checks[i]);
    }
    answerForm->addRow(tr("Input pins:"), pins);
    press_edge_combo =
        edgeCombo(answerBox, "press_edge_combo", tr("high (rising edge)"),
                  tr("low (falling edge, a button to ground)"), settings.pressRising);
    answerForm->addRow(tr("A &press makes the pin:"), press_edge_combo);
    response_window_spin = msSpin(answerBox, "response_window_spin", 0, settings.responseWindowMs);
    answerForm->addRow(tr("&Response window after the last cell:"), response_window_spin);
    dead_time_spin = msSpin(answerBox, "dead_time_spin", 0, settings.deadTimeMs);
    answerForm->addRow(tr("&Dead time after an edge (bounces):"), dead_time_spin);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pulseBox);
    layout->addWidget(answerBox);
    layout->addWidget(buttons);
}

Synchronisation SynchronisationDialog::settings() const
{
    Synchronisation settings;
    settings.waitForPulse = waitForPulse;
    settings.pulseNumber = std::uint32_t(pulse_number_spin->value());
    settings.pulsePin = pulse_pin_combo->currentData().toInt();
    settings.pulseRising = pulse_edge_combo->currentIndex() == 0;
    settings.timeLimitMs = std::uint32_t(time_limit_spin->value());
    for (std::size_t i = 0; i < std::size(answer_pin_checks); ++i)
        if (answer_pin_checks[i]->isChecked())
            settings.answerPins.push_back(Synchronisation::INPUT_PINS[i]);
    settings.pressRising = press_edge_combo->currentIndex() == 0;
    settings.responseWindowMs = std::uint32_t(response_window_spin->value());
    settings.deadTimeMs = std::uint32_t(dead_time_spin->value());
    return settings;
}
