#include "filelist/FolderScan.h"

void GetSubDirectories2016(Prompts&, QStringList&, bool) {}
QStringList ListFilesInFolder(const QString&, const QString&) { return {}; }
