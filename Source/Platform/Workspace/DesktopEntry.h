// One application's desktop entry ("*.desktop"), read by our own parser, and the command
// lines its Exec key makes.
//
// Exec is turned into an argument list here and started without a shell, so a file name can
// never become a command: quoting follows the desktop-entry rules (double quotes, with \" \`
// \$ \\ inside them), and field codes expand only in arguments that were not quoted, each file
// staying one argument whatever characters it holds. %f and %u take one file per command line,
// so several files make several command lines; %F and %U take them all.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

class KeyFile;

struct DesktopEntry {
    QString id;          // desktop file ID: the path below "applications/", "/" turned into "-"
    QString path;        // the .desktop file
    QString name;        // Name, localised for the languages it was read with
    QString genericName;
    QString exec;        // unescaped Exec value
    QString tryExec;
    QString icon;        // an icon-theme name or an absolute path
    QStringList mimeTypes;
    bool noDisplay = false;
    bool hidden = false; // Hidden=true: the entry counts as deleted
    bool terminal = false;

    // Reads an entry; fails for unreadable files and for files without a "Desktop Entry" group.
    // A Type other than Application, or a missing Exec, makes an entry that isUsable() refuses.
    static Result<DesktopEntry> read(const QString& path, const QString& id,
                                     const QStringList& languages);
    static Result<DesktopEntry> parse(const QByteArray& data, const QString& path, const QString& id,
                                      const QStringList& languages);

    // Type=Application with an Exec line, not Hidden, and TryExec (when given) names an
    // executable file (absolute, or found on PATH).
    bool isUsable() const;
    bool isApplication = false;

    // The Exec line split into arguments: unquoted, but field codes left in place.
    Result<QStringList> execArguments() const;

    // The command lines that open these files or URLs; empty when Exec cannot be parsed.
    // Without a file field code the files are appended to the one command line.
    Result<QList<QStringList>> commandLines(const QStringList& filesOrUrls) const;

    // One command line with these arguments where the file field code stands (or appended when
    // there is none): how a program is given options of its own instead of a file.
    Result<QStringList> commandLineWithArguments(const QStringList& arguments) const;

    // The languages to pick localised keys with, best first ("de_DE@euro", "de_DE", "de@euro",
    // "de" …), from LANGUAGE and LC_ALL / LC_MESSAGES / LANG.
    static QStringList languagesFromEnvironment();
    // The candidates one locale ("lang_COUNTRY.ENCODING@MODIFIER") gives, best first.
    static QStringList localeCandidates(const QString& locale);

private:
    Result<QList<QStringList>> expand(const QStringList& filesOrUrls, const QStringList* insert) const;
};

} // namespace platform
