// Type-to-find over the grid's listing: the sections the grid shows, narrowed to the documents
// whose title contains the typed text (ignoring case and diacritics), in the order and sections
// they stood in.
//
// The listing is the one the grid showed before the search narrowed it (the base). Narrowing it
// keeps its order instead of grouping and sorting the found documents again, and the titles are
// folded once per base into one text (each title followed by a line break, which typed text never
// holds), so a key costs one search through that text: at 100,000 documents about what a plain
// scan of the titles costs, where folding every title and grouping the found set again took eight
// times that. The first key over a new base pays for reading and folding its titles once.
//
// The base is taken again whenever the grid shows sections this finder did not give it (another
// listing, a regrouping after a save, a section changed in place), so the finder never searches a
// listing the user no longer sees; a title changes only through a save, which lists again.
//
// Threads: main thread only, like the models it reads.
#pragma once

#include "Browser/KPSectionData.h"

#include <QList>
#include <QString>
#include <vector>

class KPTitleFinder {
public:
    // The sections to show for text over the grid's sections now: the base narrowed to the
    // documents whose title contains text, empty sections left out; for an empty text the base
    // itself. shown is what the grid shows now; the answer is what it should show next.
    QList<KPSectionDataPtr> find(const QList<KPSectionDataPtr>& shown, const QString& text);

    // Takes shown as the base now (and folds its titles) when it is not the base already, or
    // folds what a base taken in slices still lacks. Answers whether it folded anything.
    bool prepare(const QList<KPSectionDataPtr>& shown);
    // Folds up to count titles of shown, taking it as the base first when it is not: lets a
    // window do that work in slices while nobody types. Answers whether the base is whole.
    bool prepareSome(const QList<KPSectionDataPtr>& shown, qsizetype count);
    // Takes sections as the base, whatever it was.
    void takeBase(const QList<KPSectionDataPtr>& sections);
    // The base narrowed to text (the base itself for an empty text); what the grid shows next.
    QList<KPSectionDataPtr> narrowed(const QString& text);

    // Whether shown is what this finder gave the grid last, or its base, with the sections'
    // items as they were then.
    bool isCurrent(const QList<KPSectionDataPtr>& shown) const;
    // The documents folded for the base (tests).
    qsizetype indexedCount() const { return qsizetype(m_items.size()); }

private:
    // What a section held when it was taken: its list shares the section's data, so any change
    // to the section's items since makes the two differ.
    struct Taken {
        KPSectionDataPtr section;
        QList<KPSectionItem> datas;
    };
    static bool sameSections(const QList<KPSectionDataPtr>& a, const QList<KPSectionDataPtr>& b);
    static std::vector<Taken> take(const QList<KPSectionDataPtr>& sections);
    static bool unchanged(const std::vector<Taken>& taken);
    // Starts a base over sections with nothing folded yet; foldMore folds up to count more.
    void startBase(const QList<KPSectionDataPtr>& sections);
    void foldMore(qsizetype count);
    // Whether shown is the base being folded in slices, unchanged since it was taken.
    bool isPreparing(const QList<KPSectionDataPtr>& shown) const;
    void give(const QList<KPSectionDataPtr>& sections);

    QList<KPSectionDataPtr> m_base;
    std::vector<Taken> m_takenBase;
    QList<KPSectionDataPtr> m_given;
    std::vector<Taken> m_takenGiven;
    // The documents of the base in order, the section each stands in, and where its folded
    // title starts in m_text (one more entry: the end).
    std::vector<KPItemDataPtr> m_items;
    std::vector<quint32> m_sectionOf;
    std::vector<qsizetype> m_starts;
    QString m_text;
    // Where folding stands in the base (section, item), and whether it reached the end.
    qsizetype m_nextSection = 0;
    qsizetype m_nextItem = 0;
    bool m_started = false;
    bool m_folded = false;
    // The documents a search found, by their place in m_items (kept to spare an allocation).
    std::vector<quint32> m_hits;
};
