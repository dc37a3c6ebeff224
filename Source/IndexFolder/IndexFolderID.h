// The folder identity stored with index-folder rows and documents: the string hash of the
// lower-cased path of the folder that holds the file. Stored values depend on it, so the
// formula is fixed (see StringHash.h); folders are still compared by exact path elsewhere.
#pragma once

#include <QString>
#include <QtGlobal>

quint64 indexFolderIDForPath(const QString& folderPath);

// The folder part and the name part of a file path ("/a/b/c.pdf" → "/a/b", "c.pdf").
QString folderOfPath(const QString& path);
QString lastComponentOfPath(const QString& path);
