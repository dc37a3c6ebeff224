// How the SafeBox sheets' controllers go once their sheet has ended.
#pragma once

class QObject;

namespace safebox {

// Deletes object on a later pass of the event loop, which any loop runs (a deferred delete waits
// for the loop that posted it), so the owner sees the sheet gone as soon as it has ended. Nothing
// happens when object has gone by then.
void deleteSoon(QObject* object);

} // namespace safebox
