#include "numbering/NumberingRun.h"
#include "app/Services.h"

void RunNumbering(Services&) {}
