// The rule list of the smart-folder sheet: up to rowMaxValue rows, each a field pop-up, an
// operator pop-up and the value controls of its field, reading and writing SmartFolderRules.
//
// Every pop-up item carries its value as item data (operator code, collection nodeID, source
// path, flag number, unit index), never its display text: two codes that share a translation
// must stay apart and two paths must never collide. The choices offered (collections, sources,
// tags, authors, kinds) come through SmartFolderChoices so the view runs without a library.
//
// Ownership: the view owns its rows. Threads: main thread only.
#pragma once

#include "SmartFolder/SmartFolderRules.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <QWidget>
#include <array>
#include <functional>

class DataBaseEngine;
class QComboBox;
class QLineEdit;
class QDateEdit;
class KPRatingView;
class KPThemeImageButton;
class KPTokenEditorView;
class KPSmartFolderView;

struct SmartFolderChoices {
    struct Collection {
        QString title;
        quint64 nodeID = 0;
        int depth = 0;
        int type = 1; // 1 collection, 2 folder
    };
    struct Source {
        QString title;
        QString path;
    };
    std::function<QList<Collection>()> collections; // depth first
    std::function<QList<Source>()> sources;          // sorted by title
    std::function<QStringList()> tags;               // not in the Trash
    std::function<QStringList()> authors;
    std::function<QStringList()> kinds;
    std::function<QString(qint64)> kindName;
    std::function<qint64(const QString&)> kindID;

    // The library's own lists (null store: empty lists, the file-format table still used).
    static SmartFolderChoices fromStore(DataBaseEngine* store);
};

class KPSmartRowEditor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 30;
    static constexpr int kButtonGap = 4;
    // The width of the content field's rounded ends, kept clear of its words.
    static constexpr int kContentCap = 4;
    // The field and operator pop-ups are never narrower than these.
    static constexpr int kLeastFieldWidth = 126;
    static constexpr int kLeastOperatorWidth = 115;

    // The width a pop-up needs to show the longest of these titles whole, at least atLeast.
    static int popUpWidthFor(const QStringList& titles, int atLeast);
    // The date rows' unit texts (days, weeks, months).
    static QStringList unitTexts();

    KPSmartRowEditor(SmartFolderRules::SmartRowEditorType type, const QRect& frame, KPSmartFolderView* parnet);

    SmartFolderRules::SmartRowEditorType editorType() const { return m_type; }
    int tag() const { return m_tag; }
    void setTag(int tag);

    void setLeftValues();
    void selectFromTitle(const QString& title);
    void setCenterValues(const QStringList& codes);
    void selectOpertionFromKeyName(const QString& code);
    void setRightValues(const QVariant& value);
    // The rule's value as it was stored: given back unchanged while the controls still show what
    // they showed for it, so that confirming an untouched sheet changes nothing (a collection
    // since deleted, a kind no longer listed, a size finer than the field's two decimals).
    void keepStoredValue(const QVariant& stored);
    QVariantMap smartData() const;
    QString leftStringValue() const;
    QString centerCode() const;

    // The controls, for tests and the sheet's focus chain.
    QComboBox* leftButton() const { return m_leftBtn; }
    QComboBox* centerButton() const { return m_centerBtn; }
    QLineEdit* textField() const { return m_text; }
    QComboBox* valuePopUp() const { return m_popUp; }
    QComboBox* unitPopUp() const { return m_unit; }
    QDateEdit* datePicker() const { return m_date; }
    QLineEdit* countField() const { return m_count; }
    KPRatingView* ratingView() const { return m_rating; }
    KPTokenEditorView* tokenField() const { return m_tokens; }
    KPThemeImageButton* addButton() const { return m_btnAdd; }
    KPThemeImageButton* deleteButton() const { return m_btnDelete; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void initData();
    void btnCenterPopUpClick();
    void btnChangeClick();
    void showValueControlsFor(const QString& code);
    void place(QWidget* widget, int x, int y, int w, int h);
    void placeValue(QWidget* widget, int x, int y, int w, int h);
    void fitContentFrame();
    void drawContentBackground(QPainter& painter);
    QVariant rightValue() const;

    SmartFolderRules::SmartRowEditorType m_type;
    KPSmartFolderView* m_parnet;
    int m_tag = 0;
    int m_valueShift = 0;
    QComboBox* m_leftBtn = nullptr;
    QComboBox* m_centerBtn = nullptr;
    QLineEdit* m_text = nullptr;
    QComboBox* m_popUp = nullptr;
    QComboBox* m_unit = nullptr;
    QDateEdit* m_date = nullptr;
    QLineEdit* m_count = nullptr;
    KPRatingView* m_rating = nullptr;
    KPTokenEditorView* m_tokens = nullptr;
    KPThemeImageButton* m_btnAdd = nullptr;
    KPThemeImageButton* m_btnDelete = nullptr;
    // The content field's background: left cap, middle, right cap.
    std::array<QImage, 3> m_contentBGRef;
    QVariant m_storedRight;
    QVariant m_shownRight;
};

class KPSmartFolderView : public QWidget {
    Q_OBJECT
public:
    using HeightDelegate = std::function<void(int height, int addHeight)>;

    explicit KPSmartFolderView(SmartFolderChoices choices, QWidget* parent = nullptr);

    KPSmartRowEditor* addRowByType(SmartFolderRules::SmartRowEditorType type, const QString& title);
    static SmartFolderRules::SmartRowEditorType typeFromTitle(const QString& title);
    static QStringList centerValueFormTitle(const QString& title);
    QVariant rightValueFromTitle(const QString& title, const QVariant& otherData) const;

    void add(KPSmartRowEditor* row);
    void deleteRow(KPSmartRowEditor* row);
    void changeRowFromTitle(const QString& title, KPSmartRowEditor* row);

    QVariantMap smartData() const;
    void setSmartData(const QVariantMap& rules);

    void layoutRows();
    bool isAnd() const { return m_isAnd; }
    void setIsAnd(bool isAnd) { m_isAnd = isAnd; }
    int rowMaxValue() const { return m_rowMaxValue; }
    void setRowMaxValue(int value) { m_rowMaxValue = value; }
    void setDelegate(HeightDelegate delegate) { m_delegate = std::move(delegate); }
    const QList<KPSmartRowEditor*>& rowEditors() const { return m_rows; }
    const SmartFolderChoices& choices() const { return m_choices; }
    // The field and operator pop-ups' widths, shared by every row.
    static int fieldColumnWidth();
    static int operatorColumnWidth();

    // The display text of an operator code.
    static QString operatorText(const QString& code);
    // The display text of a field title.
    static QString fieldText(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    KPSmartRowEditor* makeRow(SmartFolderRules::SmartRowEditorType type, const QString& title,
                              const QString& center, const QVariant& right, int index);

    SmartFolderChoices m_choices;
    QList<KPSmartRowEditor*> m_rows;
    bool m_isAnd = true;
    int m_rowMaxValue = SmartFolderRules::kMaxRules;
    HeightDelegate m_delegate;
};
