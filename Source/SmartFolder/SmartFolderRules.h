// The smart-folder rule dictionary as the editor writes it and DBSmartFolder.data keeps it (a
// keyed archive): SmartFolderRules {"Operation": all (YES) or any (NO), "SmartData": rows} and
// SmartFolderRule {"Title", "Left", "Center", "Right"}. The names and codes are stored as they
// stand; only their display texts are translated.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace SmartFolderRules {

inline const QString kOperationKey = QStringLiteral("Operation");
inline const QString kSmartDataKey = QStringLiteral("SmartData");
inline const QString kTitleKey = QStringLiteral("Title");
inline const QString kLeftKey = QStringLiteral("Left");
inline const QString kCenterKey = QStringLiteral("Center");
inline const QString kRightKey = QStringLiteral("Right");

// Whether a document must pass every rule ("Operation" YES) rather than any. A set stored without
// "Operation" means "any": the query and the editor must read it alike, or saving an unchanged
// folder would change what it lists.
bool matchesAll(const QVariantMap& rules);

// The editor offers at most this many rows.
constexpr int kMaxRules = 20;

// The value control of a row, chosen by its field.
enum SmartRowEditorType {
    SmartRowText = 0,
    SmartRowFileType = 1,
    SmartRowDate = 2,
    SmartRowSize = 3,
    SmartRowLabel = 4,
    SmartRowRating = 5,
    SmartRowTag = 6,
    SmartRowAuthor = 7,
    SmartRowCollection = 8,
    SmartRowDocumentSource = 9,
    SmartRowContent = 11,
};

// One field of the editor's menu ("-" is a separator line, never a rule).
struct SmartField {
    QString title;
    QString left;
    SmartRowEditorType type;
    QStringList operators; // menu order
};

// The fields in menu order, separators included.
const QList<SmartField>& smartFields();
// The field of a title; null for separators and unknown titles.
const SmartField* smartFieldForTitle(const QString& title);
// The editor type of a title; text for a title that is none of the fields.
SmartRowEditorType smartRowEditorTypeForTitle(const QString& title);
// The localisation key of a field's display text: its title, except for one key the stored
// tables have always spelt their own way.
QString fieldDisplayKey(const QString& title);
// The localisation key of an operator code's display text (the code itself when unknown).
QString operatorDisplayKey(const QString& code);

// Rows whose field is the document content go to the full-text index, not the store.
inline const QString kContentLeft = QStringLiteral("content");

} // namespace SmartFolderRules
