#include "IndexFolder/KPFileNode.h"

void KPFileNode::addFolder(Ptr node)
{
    if (node)
        m_folderNodes.append(std::move(node));
}

void KPFileNode::addFile(Ptr node)
{
    if (node)
        m_fileNodes.append(std::move(node));
}

void KPFileNode::setListing(Listing listing, int error)
{
    m_listing = listing;
    m_listingError = error;
}
