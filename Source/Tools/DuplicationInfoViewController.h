// One group of documents with equal contents: a header with the file's name and size, the
// group's picture, and one row per file (DuplicationInfoSelectView). Every row but the first
// starts checked for removal, and at least one row always stays unchecked.
//
// The view's geometry is the given y-up layout: the height max(120, 28 × rows + 40), the rows
// stacked downwards from 34 points below the top, each (135, y, 805, 28).
#pragma once

#include "Tools/DuplicateGrouping.h"
#include "Tools/DuplicationInfoSelectView.h"

#include <QImage>
#include <QList>
#include <QObject>

class KPCoustomDrawBGView;
class QLabel;
class QPainter;
class QRectF;
class QWidget;

class DuplicationInfoViewController : public QObject {
public:
    static constexpr int kWidth = 940;

    // The view is made as a child of parentView (the list's document view).
    DuplicationInfoViewController(const QList<DuplicateRecordInfo>& records, const QImage& thumbImage,
                                  QWidget* parentView, QObject* parent = nullptr);

    KPCoustomDrawBGView* view() const { return m_view; }
    const QList<DuplicateRecordInfo>& records() const { return m_records; }
    const QList<DuplicationInfoSelectView*>& views() const { return m_views; }

    // The records of the checked rows, in row order.
    QList<platform::ObjectID> needRemoveObjIDs() const;
    // A row's check box was clicked.
    void doSelectWithVC(DuplicationInfoSelectView* row);
    void layoutViews();
    void onDrawBG(KPCoustomDrawBGView* view, QPainter& painter, const QRectF& rect);

    KPCoustomDrawBGView* headerBGView() const { return m_headerBGView; }
    QLabel* txtTitle() const { return m_txtTitle; }
    QLabel* txtFileSize() const { return m_txtFileSize; }
    QLabel* thumbImageView() const { return m_thumbImageView; }

private:
    QList<DuplicateRecordInfo> m_records;
    QImage m_thumbImage;
    QList<DuplicationInfoSelectView*> m_views;
    KPCoustomDrawBGView* m_view = nullptr;
    KPCoustomDrawBGView* m_headerBGView = nullptr;
    QLabel* m_thumbImageView = nullptr;
    QLabel* m_txtTitle = nullptr;
    QLabel* m_txtFileSize = nullptr;
};
