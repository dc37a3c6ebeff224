#include "SmartFolder/SmartFolderRules.h"

#include <QHash>

namespace SmartFolderRules {

namespace {

QStringList dateOperators()
{
    return {"==", "!=", "AFTER", "BEFORE", "-", "ISTODAY", "ISYERTERDAY", "ISTHISWEEK",
            "ISLASTWEEK", "ISTHISMONTH", "ISLASTMONTH", "ISINTHELAST"};
}

} // namespace

bool matchesAll(const QVariantMap& rules) { return rules.value(kOperationKey, false).toBool(); }

const QList<SmartField>& smartFields()
{
    static const QList<SmartField> fields{
        {"Collection", "source", SmartRowCollection, {"==", "!="}},
        {"DocumentSource", "documentSource", SmartRowDocumentSource, {"==", "!="}},
        {"-", "", SmartRowText, {}},
        {"Title", "title", SmartRowText, {"CONTAINS[cd]", "DONTCONTAINS", "==", "BEGINSWITH[cd]", "ENDSWITH[cd]"}},
        {"Content", "content", SmartRowContent, {"CONTAINS[cd]"}},
        {"File Type", "pathExtension", SmartRowFileType, {"==", "!="}},
        {"Size", "metadata.fileSize", SmartRowSize, {">", "<"}},
        {"Author", "authors", SmartRowAuthor, {"==", "!=", "BEGINSWITH[cd]", "ENDSWITH[cd]"}},
        {"Label", "metadata.label", SmartRowLabel, {"==", "!="}},
        {"Rating", "metadata.rate", SmartRowRating, {">", "<", "==", "!="}},
        {"Tag", "tags", SmartRowTag, {"==", "!=", "BEGINSWITH[cd]", "ENDSWITH[cd]"}},
        {"Description", "metadata.comment", SmartRowText, {"CONTAINS[cd]", "DONTCONTAINS", "BEGINSWITH[cd]", "ENDSWITH[cd]"}},
        {"From", "metadata.from", SmartRowText, {"CONTAINS[cd]", "BEGINSWITH[cd]"}},
        {"-", "", SmartRowText, {}},
        {"Date Created", "metadata.dateCreated", SmartRowDate, dateOperators()},
        {"Date Last Modified", "metadata.dateModified", SmartRowDate, dateOperators()},
        {"Date Last Opened", "metadata.dateLastOpen", SmartRowDate, dateOperators()},
        {"Date Imported", "metadata.dateImported", SmartRowDate, dateOperators()},
    };
    return fields;
}

const SmartField* smartFieldForTitle(const QString& title)
{
    if (title == QStringLiteral("-"))
        return nullptr;
    for (const SmartField& field : smartFields()) {
        if (field.title == title)
            return &field;
    }
    return nullptr;
}

SmartRowEditorType smartRowEditorTypeForTitle(const QString& title)
{
    const SmartField* field = smartFieldForTitle(title);
    return field ? field->type : SmartRowText;
}

QString fieldDisplayKey(const QString& title)
{
    return title == QStringLiteral("Date Last Modified") ? QStringLiteral("Date Last Modifited") : title;
}

QString operatorDisplayKey(const QString& code)
{
    static const QHash<QString, QString> keys{
        {"CONTAINS[cd]", "contains"},   {"DONTCONTAINS", "does not contain"}, {"LIKE", "like"},
        {"BEGINSWITH[cd]", "starts with"}, {"ENDSWITH[cd]", "ends with"},     {"==", "is equal to"},
        {"!=", "is not"},               {">", "is greater than"},             {"<", "is less than"},
        {"AFTER", "is after"},          {"BEFORE", "is before"},              {"ISTODAY", "is today"},
        {"ISYERTERDAY", "is yerterday"}, {"ISTHISWEEK", "is this week"},      {"ISLASTWEEK", "is last week"},
        {"ISTHISMONTH", "is this month"}, {"ISLASTMONTH", "is last month"},   {"ISINTHELAST", "is in the last"},
        {"-", "-"},
    };
    return keys.value(code, code);
}

} // namespace SmartFolderRules
