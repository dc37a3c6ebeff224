// The inspector tests run under the program's application object (so presses pass the event
// rules as in the program), on the generated "gray" theme, against a scratch library.
#pragma once

#include "../Search/LibraryFixture.h"
#include "Store/DBTag.h"
#include "Store/DBAuthor.h"

namespace inspectortest {

class InspectorLibraryTest : public libraryfixture::LibraryTest {
protected:
    DBTag tag(const QString& name, bool trashed = false)
    {
        DBTag t = engine->createTagByContext(name);
        t.setIsTrash(trashed);
        return t;
    }
    DBAuthor author(const QString& name, bool trashed = false)
    {
        DBAuthor a = engine->createAuthorByContext(name);
        a.setIsTrash(trashed);
        return a;
    }
};

} // namespace inspectortest
