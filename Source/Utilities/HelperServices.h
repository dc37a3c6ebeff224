// The platform facts the shared file helpers ask for, gathered behind one replaceable table.
//
// The helpers answer small questions (authors, display name, previews, applications, the folder
// icon) through the Platform's Content, Metadata and Workspace layers. Routing every such call
// through this table keeps the helpers' own rules (fallbacks, neutral results) testable with
// fakes. The defaults call those layers (the descriptive attributes come from FileMetadata). An
// unset entry is treated as "no answer".
//
// Threads: the table is read from any thread; replace it only while no helper runs (start-up,
// tests).
#pragma once

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

struct HelperServices {
    // A preview of the file's content fitting size (Content). Null when there is none.
    std::function<QImage(const QString& path, const QSize& size, bool asIcon)> previewImage;
    // The icon of the file's kind at size (Workspace). Null when there is none.
    std::function<QImage(const QString& path, const QSize& size)> fileIcon;

    // Descriptive attributes (Metadata). A null display name means "no item"; an empty one
    // means the item has no display name of its own.
    std::function<QStringList(const QString& path)> authors;
    std::function<QString(const QString& path)> displayName;
    std::function<std::optional<QDateTime>(const QString& path)> lastUsedDate;
    // The package kinds as uniform type identifiers ("com.apple.rtfd"), any other item as its
    // MIME type name ("application/pdf"); empty when unknown.
    std::function<QString(const QString& path)> contentType;
    // The colour label 0-7.
    std::function<int(const QString& path)> finderLabel;

    // Workspace facts.
    std::function<bool(const QString& path)> isInvisible;
    // Every application that opens the file, the default one first; empty when there is no
    // default. Entries are application paths.
    std::function<QStringList(const QString& path)> applications;
    // Gives the folder the icon in iconPath; false when it could not.
    std::function<bool(const QString& iconPath, const QString& folder)> setFolderIcon;

    // The table in use. Created with the defaults on first use.
    static const HelperServices& current();
    // The defaults as built in.
    static HelperServices defaults();
    // Replaces the table (tests; start-up wiring). Answers the one it replaced.
    static HelperServices replace(HelperServices services);
};
