// Placeholder until the sending and logging slots land; replaced whole.
#include "main_form.h"

bool main_form::checkValues() { return false; }
void main_form::setTimes() {}
void main_form::setPins() {}
void main_form::send() {}
void main_form::randomShow() {}
void main_form::logShow() {}
void main_form::startLog() {}
void main_form::closeLog() {}
