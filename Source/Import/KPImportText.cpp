#include "Import/KPImportText.h"

#include "Platform/Foundation/Localization.h"

QString KPImportText::unknownKind()
{
    return platform::localizedString(QStringLiteral("Unknown"));
}

QString KPImportText::untitledFolder()
{
    return platform::localizedString(QStringLiteral("UntitledFolder"));
}
