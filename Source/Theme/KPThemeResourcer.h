// One loaded theme: the style list at themeFilePath and the sprite sheet beside it (same folder
// and base name, "@2x" for the 2x scale). Loading checks both files, decodes the sheet once and
// makes one unresolved theme object per description; nothing is cut until a view asks.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPThemeSheet.h"

#include <QImage>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>

class KPThemeResourcer {
public:
    static inline const QString kErrorDomain = QStringLiteral("KPThemeResource");
    enum ErrorCode { BadDescription = 1, MissingFile = 2 };

    KPThemeResourcer(QString themeFilePath, bool is2x);
    KPThemeResourcer(const KPThemeResourcer&) = delete;
    KPThemeResourcer& operator=(const KPThemeResourcer&) = delete;

    // Called once, right after creation. A failure leaves the resourcer unusable.
    platform::Result<void> loadResource();

    KPThemeObject* themeWithName(const QString& name) const;
    KPCustomThemeObject* customThemeObjectWithName(const QString& name) const;
    const QImage& themeImageRef() const { return m_sheet.image; }
    const QString& themeFilePath() const { return m_themeFilePath; }
    // The sheet file for the scale: "<folder>/<base>.png" or "<folder>/<base>@2x.png".
    QString sheetPath() const;

    // A theme object of the class the description's "Type" picks; an error when the
    // description is not a dictionary.
    static platform::Result<std::unique_ptr<KPThemeObject>> makeThemeObject(const QString& name, const QVariant& desc,
                                                                            const KPThemeSheet* sheet);
    // A group holding one member per entry; nullptr (no error) for an empty dictionary.
    static platform::Result<std::unique_ptr<KPCustomThemeObject>> makeCustomThemeObject(const QString& name,
                                                                                        const QVariant& members,
                                                                                        const KPThemeSheet* sheet);

private:
    QString m_themeFilePath;
    KPThemeSheet m_sheet;
    std::map<QString, std::unique_ptr<KPThemeObject>> m_themeObjects;
    std::map<QString, std::unique_ptr<KPCustomThemeObject>> m_themeCustomObjects;
};
