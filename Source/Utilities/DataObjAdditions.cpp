#include "Utilities/DataObjAdditions.h"

namespace {
constexpr char kDataObjKey[] = "DataObj";
}

void setDataObj(QObject* item, const QVariant& object)
{
    if (item && object.isValid())
        item->setProperty(kDataObjKey, object);
}

QVariant dataObj(const QObject* item)
{
    return item ? item->property(kDataObjKey) : QVariant();
}
