#include "filelist/Commands.h"
#include "app/Services.h"

void AddFilesByDialog(Services&) {}
