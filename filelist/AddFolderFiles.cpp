#include "filelist/Commands.h"
#include "app/Services.h"

void AddFolderFiles(Services&) {}
