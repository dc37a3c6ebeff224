// The kinds of side-bar nodes. Every node of both side bars carries one of these numbers, and
// the main window decides what a selection shows by it, so the numbers are fixed (5, 6, 9 and
// 13 are never made; 9 is drawn like 8). The sets below are the groups that code tests as one.
#pragma once

namespace SideBarNodeType {

enum : int {
    RootNode = 0,        // invisible root of a tree
    SectionNode = 1,     // section header
    DocumentsNode = 2,
    RecentNode = 3,
    FlaggedNode = 4,
    TrashNode = 7,
    ImportingNode = 8,
    ImportingOldNode = 9,
    TagsNode = 10,
    TagGroupNode = 11,   // data: DBTagGroup
    TagNode = 12,        // data: DBTag; without it "Untagged"
    FileTypeNode = 14,
    AuthorNode = 15,
    FolderNode = 16,     // dbNode of type 2; without it "Uncategorized"
    SmartFolderNode = 17,
    SafeBoxNode = 18,
    DocumentDateNode = 19,
    CollectionsNode = 20,
    CollectionNode = 21, // dbNode of type 1
    IndexFolderNode = 22, // data: DBIndexFolder (index folder or document source)
    SubIndexFolderNode = 23, // data: absolute path
    ICloudNode = 24,     // data: "A.A.A"; children: the iCloud sources
    ListNode = 25,
    ReceivedNode = 26,
};

// Rows whose title the user may edit in the main side bar.
constexpr bool isTitleEditable(int type)
{
    return type == FolderNode || type == SmartFolderNode || type == CollectionNode;
}

// Main-side-bar selections the content switch treats together.
constexpr bool isOpeningSecondBarOrFolder(int type)
{
    return type == TagsNode || type == CollectionsNode || type == IndexFolderNode || type == SubIndexFolderNode;
}

// The grouped views: no list view and no item selection.
constexpr bool isGroupedView(int type)
{
    return type == FlaggedNode || type == FileTypeNode || type == AuthorNode || type == DocumentDateNode;
}

// Collections/tags side-bar nodes that take files dropped from the file manager.
constexpr bool acceptsDroppedFiles(int type)
{
    return type == DocumentsNode || type == TagNode || type == FolderNode || type == CollectionNode;
}

// Rows that carry the side bar's own disclosure triangle.
constexpr bool hasOwnTriangle(int type)
{
    return type == IndexFolderNode || type == SubIndexFolderNode || type == ICloudNode;
}

// Never drawn as group rows in the main side bar.
constexpr bool isNeverGroupRow(int type)
{
    return type == FolderNode || type == CollectionNode || type == IndexFolderNode || type == SubIndexFolderNode ||
           type == ICloudNode;
}

} // namespace SideBarNodeType
