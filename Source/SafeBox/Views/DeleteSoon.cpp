#include "SafeBox/Views/DeleteSoon.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace safebox {

void deleteSoon(QObject* object)
{
    QTimer::singleShot(0, QCoreApplication::instance(), [object = QPointer<QObject>(object)] { delete object.data(); });
}

} // namespace safebox
