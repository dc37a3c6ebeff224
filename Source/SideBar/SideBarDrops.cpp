#include "SideBar/SideBarDrops.h"

#include "Import/KPImportKeys.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarPasteboard.h"
#include "SideBar/SubSideBarDataSource.h"

#include <QDropEvent>
#include <QMimeData>

namespace T = SideBarNodeType;
namespace P = sidebarpasteboard;

bool SideBarDrops::isSafeBoxOpen() const
{
    return m_ctx.services.safeBoxDisk && !m_ctx.services.safeBoxDisk().isEmpty();
}

bool SideBarDrops::validateDrop(const QMimeData& data, const KPNode* target) const
{
    if (P::hasGridDocuments(data)) {
        if (!target)
            return false;
        if (target->nodeType() == T::SafeBoxNode)
            return isSafeBoxOpen();
        if (target->nodeType() == T::DocumentsNode) {
            const KPNode::Ptr selected = m_ctx.selectedNode();
            return selected && selected->nodeType() == T::TrashNode;
        }
        return false;
    }
    if (data.hasUrls()) {
        if (!P::hasImportableFiles(data))
            return false;
        return !target || target->nodeType() == T::DocumentsNode;
    }
    return false;
}

bool SideBarDrops::acceptDrop(const QMimeData& data, const KPNode* target, bool shiftHeld)
{
    if (!validateDrop(data, target))
        return false;
    if (P::hasGridDocuments(data)) {
        if (target->nodeType() == T::SafeBoxNode) {
            if (m_ctx.delegate.onSideBarMoveDataToSafeBox)
                m_ctx.delegate.onSideBarMoveDataToSafeBox(P::filePaths(data));
            return true;
        }
        if (!m_ctx.delegate.onSideBarPuckback)
            return false;
        m_ctx.delegate.onSideBarPuckback(P::fileInfoURIs(data));
        return true;
    }
    namespace I = KPImportKeys;
    QVariantMap options{{I::CMD, shiftHeld ? 1 : 0}, {I::Paths, P::filePaths(data)}};
    if (const KPNode::Ptr selected = m_ctx.selectedNode())
        options.insert(I::LastSelectNode, QVariant::fromValue(selected));
    platform::NotificationCenter::defaultCenter().post(SubSideBarKeys::AddFilesToLibrary, options);
    return true;
}

bool SideBarDrops::handleDrop(QDropEvent& event)
{
    const QMimeData* data = event.mimeData();
    if (!data || !m_ctx.view)
        return false;
    const QModelIndex index = m_ctx.view->indexAt(event.position().toPoint());
    const KPNode* target = index.isValid() ? m_ctx.view->nodeModel()->nodeFromIndex(index) : nullptr;
    if (event.type() != QEvent::Drop)
        return validateDrop(*data, target);
    return acceptDrop(*data, target, event.modifiers().testFlag(Qt::ShiftModifier));
}
