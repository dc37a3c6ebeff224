// The few user-visible words of the import layer, looked up in the bundle's strings by their keys
// ("Unknown", "UntitledFolder"), so that a translation can replace them.
#pragma once

#include <QString>

class KPImportText {
public:
    // "Unknown": the kind name of an extension no kind row matches.
    static QString unknownKind();
    // "UntitledFolder": the root of the hierarchical walk.
    static QString untitledFolder();
};
