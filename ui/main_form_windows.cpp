#include "about_form.h"
#include "main_form.h"
#include "trainer_form.h"

// Each request opens a new window that nothing refers to afterwards, so it
// frees itself when closed.

void main_form::trainingSession()
{
    auto* trainer = new trainer_form(nullptr, nullptr, false);
    trainer->setAttribute(Qt::WA_DeleteOnClose);
    trainer->show();
}

void main_form::helpAbout()
{
    auto* about = new about_form(nullptr, nullptr, false);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
}
