#include "Platform/ObjectStore/Row.h"

#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <iterator>

namespace platform {

void Row::setUpCells()
{
    toOne.m_data = reinterpret_cast<qint64*>(m_numbers + entity->numberCount());
    toOne.m_size = size_t(entity->toOneCount());
    if (entity->blobCount())
        m_blobs = std::make_unique<QByteArray[]>(size_t(entity->blobCount()));
}

void Row::allocate()
{
    const size_t cells = size_t(entity->numberCount() + entity->toOneCount());
    if (cells) {
        m_ownCells = std::make_unique<quint64[]>(cells);
        m_numbers = m_ownCells.get();
    }
    setUpCells();
}

template <size_t N>
std::shared_ptr<Row> Row::makeWithCells()
{
    struct WithCells : Row {
        quint64 cells[N] = {};
    };
    auto row = std::make_shared<WithCells>();
    row->m_numbers = row->cells;
    return row;
}

Row::Row(const Row& other)
    : entity(other.entity), pk(other.pk), toMany(other.toMany), m_present(other.m_present)
{
    allocate();
    for (int i = 0; i < entity->numberCount() + entity->toOneCount(); ++i)
        m_numbers[size_t(i)] = other.m_numbers[size_t(i)];
    m_text = other.m_text;
    for (int i = 0; i < entity->blobCount(); ++i)
        m_blobs[size_t(i)] = other.m_blobs[size_t(i)];
}

std::shared_ptr<Row> Row::makeEmpty(const EntityDescription* entity, qint64 pk)
{
    // Rows read from the store are the most numerous objects of all: one allocation for the
    // row and its cells, in a few size classes.
    const size_t cells = size_t(entity->numberCount() + entity->toOneCount());
    std::shared_ptr<Row> row = cells <= 4 ? makeWithCells<4>()
        : cells <= 8                      ? makeWithCells<8>()
        : cells <= 12                     ? makeWithCells<12>()
        : cells <= 16                     ? makeWithCells<16>()
        : cells <= 20                     ? makeWithCells<20>()
        : cells <= 24                     ? makeWithCells<24>()
        : cells <= 32                     ? makeWithCells<32>()
                                          : nullptr;
    if (!row) {
        row = std::make_shared<Row>();
        row->entity = entity;
        row->allocate();
    } else {
        row->entity = entity;
        row->setUpCells();
    }
    row->pk = pk;
    row->toMany.resize(size_t(entity->toManyCount()));
    return row;
}

std::shared_ptr<Row> Row::makeDefault(const EntityDescription* entity, qint64 pk)
{
    auto row = makeEmpty(entity, pk);
    for (const AttributeDescription& a : entity->attributes())
        row->setValue(a.slot, a.defaultValue);
    return row;
}

QVariant Row::value(int slot) const
{
    if (!(m_present & (quint64(1) << slot)))
        return {};
    const AttributeDescription& a = entity->attributes()[size_t(slot)];
    const size_t cell = size_t(a.cell);
    switch (a.type) {
    case AttributeType::String:
        return QString::fromUtf8(m_text.constData() + (m_numbers[cell] >> 32), qsizetype(m_numbers[cell] & 0xffffffffu));
    case AttributeType::Binary:
        return m_blobs[cell];
    case AttributeType::Bool:
        return m_numbers[cell] != 0;
    case AttributeType::Double: {
        double d;
        std::memcpy(&d, &m_numbers[cell], sizeof d);
        return d;
    }
    case AttributeType::Date:
        return QDateTime::fromMSecsSinceEpoch(qint64(m_numbers[cell]), Qt::UTC);
    case AttributeType::UInt64:
        return QVariant::fromValue(m_numbers[cell]);
    default:
        return QVariant::fromValue(qint64(m_numbers[cell]));
    }
}

void Row::setValue(int slot, const QVariant& v)
{
    const quint64 bit = quint64(1) << slot;
    const AttributeDescription& a = entity->attributes()[size_t(slot)];
    const size_t cell = size_t(a.cell);
    if (!v.isValid() || v.isNull()) {
        m_present &= ~bit;
        if (a.type == AttributeType::Binary)
            m_blobs[cell] = QByteArray();
        else
            m_numbers[cell] = 0;
        return;
    }
    if (a.type == AttributeType::String) {
        const QByteArray utf8 = v.toString().toUtf8();
        setStringUtf8(slot, utf8.constData(), utf8.size());
        return;
    }
    m_present |= bit;
    switch (a.type) {
    case AttributeType::Binary:
        m_blobs[cell] = v.toByteArray();
        break;
    case AttributeType::Bool:
        m_numbers[cell] = v.toBool() ? 1 : 0;
        break;
    case AttributeType::Double: {
        const double d = v.toDouble();
        std::memcpy(&m_numbers[cell], &d, sizeof d);
        break;
    }
    case AttributeType::Date:
        m_numbers[cell] = quint64(v.toDateTime().toMSecsSinceEpoch());
        break;
    case AttributeType::UInt64:
        m_numbers[cell] = v.toULongLong();
        break;
    default:
        m_numbers[cell] = quint64(v.toLongLong());
        break;
    }
}

bool Row::numberBits(int slot, quint64* bits) const
{
    if (!(m_present & (quint64(1) << slot)))
        return false;
    *bits = m_numbers[size_t(entity->attributes()[size_t(slot)].cell)];
    return true;
}

bool Row::stringUtf8(int slot, QByteArrayView* text) const
{
    if (!(m_present & (quint64(1) << slot)))
        return false;
    const quint64 c = m_numbers[size_t(entity->attributes()[size_t(slot)].cell)];
    *text = QByteArrayView(m_text.constData() + (c >> 32), qsizetype(c & 0xffffffffu));
    return true;
}

void Row::setNumberBits(int slot, quint64 bits)
{
    m_present |= quint64(1) << slot;
    m_numbers[size_t(entity->attributes()[size_t(slot)].cell)] = bits;
}

void Row::setStringUtf8(int slot, const char* utf8, qsizetype size)
{
    m_present |= quint64(1) << slot;
    // Replaced text stays in the arena as garbage until it outweighs the live text.
    qsizetype live = size;
    for (const AttributeDescription& a : entity->attributes()) {
        if (a.type == AttributeType::String && a.slot != slot && (m_present & (quint64(1) << a.slot)))
            live += qsizetype(m_numbers[size_t(a.cell)] & 0xffffffffu);
    }
    if (m_text.size() + size > 2 * live + 64) {
        QByteArray packed;
        packed.reserve(live);
        for (const AttributeDescription& a : entity->attributes()) {
            if (a.type != AttributeType::String || a.slot == slot || !(m_present & (quint64(1) << a.slot)))
                continue;
            quint64& c = m_numbers[size_t(a.cell)];
            const qsizetype length = qsizetype(c & 0xffffffffu);
            const quint64 offset = quint64(packed.size());
            packed.append(m_text.constData() + (c >> 32), length);
            c = offset << 32 | quint64(length);
        }
        m_text = packed;
    }
    const quint64 offset = quint64(m_text.size());
    m_text.append(utf8, size);
    m_numbers[size_t(entity->attributes()[size_t(slot)].cell)] = offset << 32 | quint64(size);
}

void Row::setFirstStringUtf8(int slot, const char* utf8, qsizetype size)
{
    m_present |= quint64(1) << slot;
    const quint64 offset = quint64(m_text.size());
    // Within the reserved arena: cheaper than append's general insertion.
    m_text.resize(qsizetype(offset) + size);
    std::memcpy(m_text.data() + offset, utf8, size_t(size));
    m_numbers[size_t(entity->attributes()[size_t(slot)].cell)] = offset << 32 | quint64(size);
}

bool Row::sameValue(int slot, const Row& other) const
{
    const quint64 bit = quint64(1) << slot;
    if ((m_present & bit) != (other.m_present & bit))
        return false;
    if (!(m_present & bit))
        return true;
    const AttributeDescription& a = entity->attributes()[size_t(slot)];
    const size_t cell = size_t(a.cell);
    switch (a.type) {
    case AttributeType::String: {
        const quint64 x = m_numbers[cell], y = other.m_numbers[cell];
        return QByteArrayView(m_text.constData() + (x >> 32), qsizetype(x & 0xffffffffu))
            == QByteArrayView(other.m_text.constData() + (y >> 32), qsizetype(y & 0xffffffffu));
    }
    case AttributeType::Binary:
        return m_blobs[cell] == other.m_blobs[cell];
    default:
        return m_numbers[cell] == other.m_numbers[cell];
    }
}

bool Row::containsKey(int slot, qint64 key) const
{
    const auto& v = toMany[size_t(slot)];
    return std::binary_search(v.begin(), v.end(), key);
}

bool Row::addKey(int slot, qint64 key)
{
    auto& v = toMany[size_t(slot)];
    auto it = std::lower_bound(v.begin(), v.end(), key);
    if (it != v.end() && *it == key)
        return false;
    v.insert(it, key);
    return true;
}

bool Row::removeKey(int slot, qint64 key)
{
    auto& v = toMany[size_t(slot)];
    auto it = std::lower_bound(v.begin(), v.end(), key);
    if (it == v.end() || *it != key)
        return false;
    v.erase(it);
    return true;
}

bool sameAttributeValue(const QVariant& a, const QVariant& b)
{
    if (a.isValid() != b.isValid())
        return false;
    if (!a.isValid())
        return true;
    return a.metaType() == b.metaType() && a == b;
}

void keySetUnion(std::vector<qint64>& into, const std::vector<qint64>& add)
{
    if (add.empty())
        return;
    std::vector<qint64> out;
    out.reserve(into.size() + add.size());
    std::set_union(into.begin(), into.end(), add.begin(), add.end(), std::back_inserter(out));
    into.swap(out);
}

void keySetSubtract(std::vector<qint64>& from, const std::vector<qint64>& remove)
{
    if (remove.empty())
        return;
    std::vector<qint64> out;
    out.reserve(from.size());
    std::set_difference(from.begin(), from.end(), remove.begin(), remove.end(),
                        std::back_inserter(out));
    from.swap(out);
}

std::vector<qint64> keySetDifference(const std::vector<qint64>& a, const std::vector<qint64>& b)
{
    std::vector<qint64> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace platform
