// Placeholder until the file operations land; replaced whole.
#include "main_form.h"

void main_form::fileNew() {}
void main_form::fileOpen() {}
void main_form::fileSave() {}
