// The display names of the library's flags, kept in "flagconfig.plist" of the library folder
// ({"<number>": {"Name": …}}) and cached for the run.
//
// The table is read at the first use from the library named by "String_Library_Path" then; a
// missing or unreadable file is tried again at the next use, so a library set up later in the
// run is still found. Until a table was read, every number reads "None" and renaming does
// nothing. A rename writes the whole table atomically and changes the cache only when the file
// was written, so the two never disagree. One mutex guards the cache.
#pragma once

#include <QString>

// "None" for 0, for a number without an entry and for an entry without a name.
QString flagNameForIndex(qint64 index);
// Renames flag index (not 0) once the table has been read.
void setFlagNameForIndex(qint64 index, const QString& name);

// Forgets the cached table (tests; a library switch relaunches the program instead).
void resetFlagNameCacheForTesting();
