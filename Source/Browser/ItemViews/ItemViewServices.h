// What the document item views work with beyond the grid: the library store, the library folder
// (renames), the desktop (opening documents), the tag editor shown in the tag popover, and the
// way a drag is run. The program uses the shared objects; tests hand in their own (a scratch
// library, a workspace over a fake launcher, a drag runner that records instead of dragging).
#pragma once

#include <QImage>
#include <QStringList>
#include <functional>
#include <memory>

class DataBaseEngine;
class KPItemData;
class KPLibraryFileManager;
class QMimeData;
class QWidget;
namespace platform {
class Workspace;
}

// What the tag editor reports to the item view that shows it.
struct TagEditorCallbacks {
    // The tag names as they stand in the editor, after each change.
    std::function<void(const QStringList& names)> valueChange;
    // The editor is finished (Return or Esc with nothing typed).
    std::function<void()> done;
};

struct ItemViewServices {
    DataBaseEngine* library = nullptr;
    const KPLibraryFileManager* files = nullptr;
    platform::Workspace* workspace = nullptr;
    // The tag editor for the tag popover, showing tags; the popover owns the widget.
    std::function<QWidget*(const QStringList& tags, TagEditorCallbacks callbacks)> tagEditor;
    // Asks for the item's thumbnail. Empty: nothing is loaded.
    std::function<void(const std::shared_ptr<KPItemData>& item)> requestThumbnail;
    // Runs a drag of mime with image under the pointer, from source. Empty: a QDrag.
    std::function<void(QWidget* source, std::unique_ptr<QMimeData> mime, const QImage& image)> runDrag;

    // The shared store, library folder and workspace, a token field of tag cells as the tag
    // editor, and QDrag.
    static ItemViewServices shared();
    // A token field of tag cells reporting through callbacks.
    static QWidget* tokenTagEditor(const QStringList& tags, TagEditorCallbacks callbacks);
};
