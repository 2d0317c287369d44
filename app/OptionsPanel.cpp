#include "app/OptionsPanel.h"
#include "app/Services.h"

void ChangeColor(Services&) {}
void ChooseOutputFolder(Services&) {}
