// How document and collection titles become names in an ordinary folder hierarchy.
//
// Titles are user text: a "/" would make nested folders (or fail), ".." would climb out of the
// export folder, a leading dot would hide what was exported, and a name longer than the file
// system allows makes every copy fail. Every title therefore passes through
// sanitizedComponent before it becomes part of a path, and the numbered candidates ("T",
// "T_2", "T_3" …) always keep room for their suffix.
#pragma once

#include <QString>

namespace ExportNaming {

// The longest name, in UTF-8 bytes, a title may take, leaving room for "_<number>" and an
// extension within the usual 255-byte limit of Linux file systems.
constexpr int kMaxBaseBytes = 200;
constexpr int kMaxExtensionBytes = 32;

// "/", NUL and the other control characters become "-"; leading dots go (no hidden names, so
// "." and ".." are never a component) and "_" stands for a name with nothing left; a name too
// long is cut at a character boundary.
QString sanitizedComponent(const QString& title);
// The same for an extension (at most kMaxExtensionBytes); empty stays empty.
QString sanitizedExtension(const QString& extension);

// "base.ext" for number 1, "base_<number>.ext" after it; no dot when ext is empty.
QString numberedFileName(const QString& base, const QString& ext, int number);
// path for number 1, "path_<number>" after it.
QString numberedPath(const QString& path, int number);

} // namespace ExportNaming
