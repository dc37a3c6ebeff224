// The enabled states of the menu items that the window's code decides: each setter stores the
// value and tells the menu bar, which enables or hides its actions from them. The menu bar
// itself and the recent-libraries submenu hang off this object as they are built.
//
// Threads: main thread only.
#pragma once

#include <functional>

class AppMenuController {
public:
    enum class Flag { NewFolderFromSelection, HasFileSelected, CanMerge, MoveToTrash, EnabledListView, ShowWindowItem, EmptyTrash };

    bool bNewFolderFromSelection() const { return m_newFolderFromSelection; }
    bool bHasFileSelected() const { return m_hasFileSelected; }
    bool bCanMerge() const { return m_canMerge; }
    bool bMoveToTrash() const { return m_moveToTrash; }
    bool bEnabledListView() const { return m_enabledListView; }
    bool bShowWindowItem() const { return m_showWindowItem; }
    bool bEmptyTrash() const { return m_emptyTrash; }

    void setBNewFolderFromSelection(bool on) { set(m_newFolderFromSelection, Flag::NewFolderFromSelection, on); }
    void setBHasFileSelected(bool on) { set(m_hasFileSelected, Flag::HasFileSelected, on); }
    void setBCanMerge(bool on) { set(m_canMerge, Flag::CanMerge, on); }
    void setBMoveToTrash(bool on) { set(m_moveToTrash, Flag::MoveToTrash, on); }
    void setBEnabledListView(bool on) { set(m_enabledListView, Flag::EnabledListView, on); }
    void setBShowWindowItem(bool on) { set(m_showWindowItem, Flag::ShowWindowItem, on); }
    void setBEmptyTrash(bool on) { set(m_emptyTrash, Flag::EmptyTrash, on); }

    // Told after every setter call (also when the value did not change, as bindings are).
    std::function<void(Flag, bool)> onChange;

private:
    void set(bool& field, Flag flag, bool on)
    {
        field = on;
        if (onChange)
            onChange(flag, on);
    }

    bool m_newFolderFromSelection = false;
    bool m_hasFileSelected = false;
    bool m_canMerge = false;
    bool m_moveToTrash = false;
    bool m_enabledListView = true;
    bool m_showWindowItem = true;
    bool m_emptyTrash = false;
};
