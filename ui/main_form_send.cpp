#include "main_form.h"

#include "cp437.h"
#include "interrupt.h"
#include "nubtactile.h"
#include "termination.h"
#include "word_list.h"

#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <system_error>

namespace
{

// The field's text as the 8-bit string that the number test and the
// conversion see; a character outside Latin-1 becomes '?', so it can never
// pass for a digit.
QByteArray fieldBytes(const QLineEdit* field)
{
    return field->text().toLatin1();
}

bool isNumberField(const QLineEdit* field)
{
    const QByteArray bytes = fieldBytes(field);
    // An embedded NUL would end the C string early and let "12<NUL>x" pass.
    return !bytes.contains('\0') && main_form::isNumber(bytes.constData());
}

std::uint32_t fieldNumber(const QLineEdit* field)
{
    return main_form::numberOf(fieldBytes(field).constData());
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

} // namespace

void main_form::RecordDeleter::operator()(Braille_Data* record) const noexcept
{
    delete record;
}

bool main_form::checkValues()
{
    if (log_check->isChecked()) {
        // A name of blanks or invisible characters would name a file that
        // tells no patient apart.
        if (PatientFiles::isBlank(patient_name_text->text())) {
            error("You must insert the patients name");
            return false;
        }
        if (PatientFiles::isBlank(patient_last_name_text->text())) {
            error("You must insert the patients last name");
            return false;
        }
    }
    for (const QLineEdit* field :
         {trigger_time_text, after_trigger_time_text, char_time_text, after_char_time_text}) {
        if (!isNumberField(field)) {
            error("Some of the times have a wrong format. Please check them and try again");
            return false;
        }
    }
    const int mode = mode_combo->currentIndex();
    if (mode <= MODE_SINGLE_SHOT) {
        error("You must select a mode before sending");
        return false;
    }
    if (mode == MODE_TEXT && !isNumberField(loop_count_text)) {
        error("The loop number has a wrong format. Please check it and try again");
        return false;
    }
    if (mode >= MODE_RANDOM_VALID && !isNumberField(sequence_length_text)) {
        error("The random sequence length has a wrong format. Please check it and try again");
        return false;
    }
    return true;
}

main_form::Request main_form::readSequence()
{
    data->triggerTime = fieldNumber(trigger_time_text);
    data->afterTriggerTime = fieldNumber(after_trigger_time_text);
    data->charTime = fieldNumber(char_time_text);
    data->intervalTime = fieldNumber(after_char_time_text);
    Request request;
    leftOutNote.clear();
    const int mode = mode_combo->currentIndex();
    if (mode == MODE_TEXT) {
        LeftOut leftOut;
        leftOut.addText(word_text->text());
        leftOutNote = leftOut.note();
        data->loops = fieldNumber(loop_count_text);
        data->mode = MODE_TEXT;
        request.bytes = textToCp437(word_text->text());
        // NUL has no cell; left in, it would end the C string and drop the rest.
        request.bytes.erase(std::remove(request.bytes.begin(), request.bytes.end(), '\0'),
                            request.bytes.end());
    } else {
        data->loops = 1;
        data->mode = mode;
        request.length = fieldNumber(sequence_length_text);
    }
    return request;
}

bool main_form::encodeSequence(const Request& request, const Interrupt& cancel,
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

// Both send slots end any failed allocation, wherever it happens, in the
// memory message: the record is released with its log, and the program goes
// on. Failures before the transmission leave nothing sent and nothing logged;
// one during it ends the log entry as aborted. Drawing the codes and writing
// their log line may take minutes: it happens on a thread of its own, under a
// dialog that Cancel ends, with nothing sent.
void main_form::setTimes()
{
    // A send is already running (this slot was reached while the window's
    // events ran during it): it goes on undisturbed.
    if (SendProgress::running())
        return;
    if (!checkValues())
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
            const Request request = readSequence();
            beginLog();
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
        error(NO_MEMORY);
    } catch (const std::system_error& failure) {
        abandon();
        error((std::string(NO_THREAD) + failure.what()).c_str());
    }
}

void main_form::setPins()
{
    if (SendProgress::running())
        return;
    if (!isNumberField(pins_duration_text)) {
        error("The duration time has a wrong format. Please check it and try again");
        return;
    }
    try {
        sendStarted = QDateTime::currentDateTime();
        data.reset(new Braille_Data);
        data->mode = MODE_SINGLE_SHOT;
        data->charTime = fieldNumber(pins_duration_text);
        data->log = false;
        leftOutNote.clear();
        const QCheckBox* const pinChecks[8] = {pin_0_check, pin_1_check, pin_2_check, pin_3_check,
                                               pin_4_check, pin_5_check, pin_6_check, pin_7_check};
        for (int i = 0; i < 8; ++i)
            data->pins[i] = pinChecks[i]->isChecked();
        send();
    } catch (const std::bad_alloc&) {
        data.reset();
        error(NO_MEMORY);
    } catch (const std::system_error& failure) {
        data.reset();
        error((std::string(NO_THREAD) + failure.what()).c_str());
    }
}

void main_form::send()
{
    if (!data)
        return;
    const Braille_Data& record = *data;
    const Outcome outcome =
        transmit(sendModeName(data->mode), [&record](TransmissionObserver* audit) {
            return SendProgress::run(
                [&record](TransmissionObserver& observer, const Interrupt& interrupt) {
                    return sendToParallelPort(record, observer, interrupt);
                },
                audit);
        });
    showLeftOut(leftOutNote);
    if (outcome != Outcome::Completed && data->log)
        files.appendLog("Aborted!\n");
    reportLogFailure();
    closeLog();
    data.reset();
    afterSend();
}

void main_form::afterSend()
{
    endIfSignalled();
    if (closeAfterSend)
        close();
}

void main_form::randomShow()
{
    const int mode = mode_combo->currentIndex();
    const bool text = mode == MODE_TEXT;
    const bool random = mode >= MODE_RANDOM_VALID;
    loop_count_label->setEnabled(text);
    loop_count_text->setEnabled(text);
    word_label->setEnabled(text);
    word_text->setEnabled(text);
    length_label->setEnabled(random);
    sequence_length_text->setEnabled(random);
}

void main_form::logShow()
{
    const bool on = log_check->isChecked();
    patient_name_label->setEnabled(on);
    patient_name_text->setEnabled(on);
    patient_last_name_label->setEnabled(on);
    patient_last_name_text->setEnabled(on);
}
