#pragma once
// The numbering options panel's commands.
struct Services;

// "Change Color": choose the font colour in the colour dialog.
void ChangeColor(Services& s);
// "...": choose the output folder in the folder picker.
void ChooseOutputFolder(Services& s);
