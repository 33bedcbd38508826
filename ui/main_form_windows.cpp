// Placeholder until the Trainer and About windows land; replaced whole.
#include "main_form.h"

void main_form::trainingSession() {}
void main_form::helpAbout() {}
