// What the document-source views and the removal of a source work with: the two stores and the
// library folder (the same as an index-folder sync) and the real home folder, under which the
// cloud-sync services keep their default folders. The program uses the shared objects; tests
// hand in a scratch library and a scratch home.
#pragma once

#include "IndexFolder/IndexFolderServices.h"

#include <QString>

struct SourceServices {
    IndexFolderServices stores;
    // The account's home folder, whatever $HOME says; the default folders are read below it.
    QString realHome;

    // The shared stores and library folder of the running program, and the real home.
    static SourceServices shared();
};
