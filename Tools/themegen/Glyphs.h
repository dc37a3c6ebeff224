// The small vector pictures every icon of the generated themes is made of, drawn on a 16 x 16
// design grid scaled into the box they are given. Lines and fills only, no fonts, so the
// output does not depend on what is installed.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

namespace themegen {

enum class Glyph {
    None, Document, Folder, Collection, Tag, Clock, Flag, Calendar, PageCorner, Person, SmartFolder,
    Cloud, Inbox, Lock, Trash, Plus, Minus, Cross, Info, Eye, Reveal, Star, StarOutline,
    TriangleRight, TriangleDown, Grid, List, SidebarToggle, InspectorToggle, Gear, Check,
    ArrowUp, ArrowDown, Briefcase, IndexFolder, Merge, Share, ImageSmall, ImageLarge, Import,
    Question, Stop, TagGroup, More, Magnifier,
};

void drawGlyph(QPainter& p, Glyph glyph, const QRectF& box, const QColor& color);

} // namespace themegen
