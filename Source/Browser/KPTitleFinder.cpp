#include "Browser/KPTitleFinder.h"

#include "Platform/Foundation/TextFolding.h"

#include <limits>

namespace {

constexpr auto kFold = platform::FoldOptions::CaseAndDiacriticInsensitive;

} // namespace

bool KPTitleFinder::sameSections(const QList<KPSectionDataPtr>& a, const QList<KPSectionDataPtr>& b)
{
    if (a.size() != b.size())
        return false;
    if (a.constData() == b.constData())
        return true;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

std::vector<KPTitleFinder::Taken> KPTitleFinder::take(const QList<KPSectionDataPtr>& sections)
{
    std::vector<Taken> taken;
    taken.reserve(size_t(sections.size()));
    for (const KPSectionDataPtr& section : sections)
        taken.push_back(section ? Taken{section, section->datas()} : Taken{});
    return taken;
}

bool KPTitleFinder::unchanged(const std::vector<Taken>& taken)
{
    for (const Taken& t : taken) {
        if (!t.section)
            continue;
        const QList<KPSectionItem>& now = std::as_const(*t.section).datas();
        if (now.size() != t.datas.size())
            return false;
        // Shared data is unchanged data; a list that was only detached (a non-const walk over
        // it) is compared model by model.
        if (now.constData() == t.datas.constData())
            continue;
        for (qsizetype i = 0; i < now.size(); ++i)
            if (now[i].itemDataPointer() != t.datas[i].itemDataPointer())
                return false;
    }
    return true;
}

bool KPTitleFinder::isCurrent(const QList<KPSectionDataPtr>& shown) const
{
    if (!m_folded || !unchanged(m_takenBase))
        return false;
    if (sameSections(shown, m_base))
        return true;
    return sameSections(shown, m_given) && unchanged(m_takenGiven);
}

void KPTitleFinder::give(const QList<KPSectionDataPtr>& sections)
{
    m_given = sections;
    m_takenGiven = take(sections);
}

void KPTitleFinder::startBase(const QList<KPSectionDataPtr>& sections)
{
    m_base = sections;
    m_takenBase = take(sections);
    give(sections);
    m_items.clear();
    m_sectionOf.clear();
    m_starts.clear();
    m_text.clear();
    qsizetype count = 0;
    for (const KPSectionDataPtr& section : sections)
        count += section ? section->itemCount() : 0;
    m_items.reserve(size_t(count));
    m_sectionOf.reserve(size_t(count));
    m_starts.reserve(size_t(count) + 1);
    m_text.reserve(count * 24);
    m_nextSection = 0;
    m_nextItem = 0;
    m_started = true;
    m_folded = false;
}

void KPTitleFinder::foldMore(qsizetype count)
{
    for (; m_nextSection < m_base.size() && count > 0; ++m_nextSection, m_nextItem = 0) {
        const KPSectionDataPtr& section = m_base[m_nextSection];
        if (!section)
            continue;
        const QList<KPSectionItem>& datas = std::as_const(*section).datas();
        for (; m_nextItem < datas.size() && count > 0; ++m_nextItem, --count) {
            KPItemDataPtr item = datas[m_nextItem].itemData();
            if (!item)
                continue;
            // The title shown, or the record's while the model is not drawn: loading every
            // model's values for the search would hold them all in memory.
            const QString title = item->bLoadedDataContent() || !item->data() ? item->title() : item->data().title();
            m_starts.push_back(m_text.size());
            m_text += platform::fold(title, kFold);
            m_text += QLatin1Char('\n');
            m_sectionOf.push_back(quint32(m_nextSection));
            m_items.push_back(std::move(item));
        }
        if (m_nextItem < datas.size())
            return; // the slice ended inside this section
    }
    if (m_nextSection >= m_base.size()) {
        m_starts.push_back(m_text.size());
        m_folded = true;
    }
}

void KPTitleFinder::takeBase(const QList<KPSectionDataPtr>& sections)
{
    startBase(sections);
    foldMore(std::numeric_limits<qsizetype>::max());
}

bool KPTitleFinder::isPreparing(const QList<KPSectionDataPtr>& shown) const
{
    return m_started && !m_folded && sameSections(shown, m_base) && unchanged(m_takenBase);
}

bool KPTitleFinder::prepare(const QList<KPSectionDataPtr>& shown)
{
    if (isCurrent(shown))
        return false;
    if (isPreparing(shown))
        foldMore(std::numeric_limits<qsizetype>::max());
    else
        takeBase(shown);
    return true;
}

bool KPTitleFinder::prepareSome(const QList<KPSectionDataPtr>& shown, qsizetype count)
{
    if (isCurrent(shown))
        return true;
    if (!isPreparing(shown))
        startBase(shown);
    foldMore(count);
    return m_folded;
}

QList<KPSectionDataPtr> KPTitleFinder::find(const QList<KPSectionDataPtr>& shown, const QString& text)
{
    prepare(shown);
    return narrowed(text);
}

QList<KPSectionDataPtr> KPTitleFinder::narrowed(const QString& text)
{
    if (text.isEmpty()) {
        give(m_base);
        return m_base;
    }
    // Typed text holds no line break, so a match never runs from one title into the next.
    const QString needle = platform::fold(text, kFold);
    const QStringView all(m_text);
    m_hits.clear();
    size_t index = 0;
    qsizetype from = 0;
    while (!needle.isEmpty() && index < m_items.size()) {
        const qsizetype hit = all.indexOf(needle, from);
        if (hit < 0)
            break;
        // The title the hit lies in; hits come in order, so the walk moves forward only.
        while (m_starts[index + 1] <= hit)
            ++index;
        m_hits.push_back(quint32(index));
        from = m_starts[index + 1];
        ++index;
    }

    // Each found model gains a share, which touches its reference count: one memory access per
    // document to a place nothing else near it uses. Asking for those a few documents ahead lets
    // them arrive together instead of one after the other.
    constexpr size_t kAhead = 12;
    QList<KPSectionDataPtr> found;
    for (size_t first = 0; first < m_hits.size();) {
        const quint32 section = m_sectionOf[m_hits[first]];
        size_t last = first;
        while (last < m_hits.size() && m_sectionOf[m_hits[last]] == section)
            ++last;
        QList<KPSectionItem> datas;
        datas.reserve(qsizetype(last - first));
        for (size_t i = first; i < last; ++i) {
            if (i + kAhead < m_hits.size())
                // A model made by KPItemData::create keeps its count just before itself.
                __builtin_prefetch(reinterpret_cast<const char*>(m_items[m_hits[i + kAhead]].get()) - 8, 1);
            datas.append(m_items[m_hits[i]]);
        }
        KPSectionDataPtr shownSection = KPSectionData::create(m_base[section]->title(), std::move(datas));
        shownSection->setIsExpand(m_base[section]->isExpand());
        found.append(std::move(shownSection));
        first = last;
    }
    give(found);
    return found;
}
