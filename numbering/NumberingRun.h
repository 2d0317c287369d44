#pragma once
struct Services;

// "Start Adding": number every listed file through the run script into the output folder.
void RunNumbering(Services& s);
