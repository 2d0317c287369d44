#pragma once
struct Services;

// "Start Adding": number every listed file through the run script into the output folder. Does
// nothing while a run is already under way (a second run would share the working files).
void RunNumbering(Services& s);

// True from the start of a run until its last box has been closed.
bool NumberingRunUnderWay();
