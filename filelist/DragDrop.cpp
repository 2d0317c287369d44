#include "filelist/Commands.h"
#include "app/Services.h"

void DropPaths(Services&, const QStringList&) {}
