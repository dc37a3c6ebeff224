#include "Platform/ObjectStore/Row.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <utility>

namespace platform {

namespace {

constexpr size_t vectorWords = (sizeof(std::vector<qint64>) + sizeof(quint64) - 1) / sizeof(quint64);
static_assert(alignof(std::vector<qint64>) <= alignof(quint64));

// Rows with their storage in one allocation come in sizes of two words (malloc's granularity),
// up to this many words; larger ones keep their storage apart.
constexpr size_t maxStorageWords = 128;

} // namespace

struct Row::Layout {
    explicit Layout(const EntityDescription* e)
        : cells(size_t(e->numberCount() + e->toOneCount())), vectors(size_t(e->toManyCount())),
          fixedWords(cells + vectors * vectorWords)
    {
    }
    size_t cells;
    size_t vectors;
    size_t fixedWords;
};

void Row::placeStorage(quint64* storage, size_t words)
{
    const Layout layout(entity);
    m_numbers = storage;
    toOne.m_data = reinterpret_cast<qint64*>(storage + entity->numberCount());
    toOne.m_size = size_t(entity->toOneCount());
    auto* vectors = reinterpret_cast<std::vector<qint64>*>(storage + layout.cells);
    for (size_t i = 0; i < layout.vectors; ++i)
        new (vectors + i) std::vector<qint64>();
    toMany.m_data = vectors;
    toMany.m_size = layout.vectors;
    if (words > layout.fixedWords) {
        m_inlineText = reinterpret_cast<char*>(storage + layout.fixedWords);
        m_inlineRoom = quint32((words - layout.fixedWords) * sizeof(quint64));
    }
    if (entity->blobCount())
        extra().blobs = std::make_unique<QByteArray[]>(size_t(entity->blobCount()));
}

void Row::releaseKeyLists()
{
    for (size_t i = 0; i < toMany.m_size; ++i)
        toMany.m_data[i].~vector();
    toMany.m_size = 0;
}

Row::~Row()
{
    releaseKeyLists();
}

template <size_t Words>
std::shared_ptr<Row> Row::makeWithStorage()
{
    struct WithStorage : Row {
        // The key vectors live in storage, so they go before it does.
        ~WithStorage() { releaseKeyLists(); }
        quint64 storage[Words] = {};
    };
    auto row = std::make_shared<WithStorage>();
    row->m_numbers = row->storage;
    return row;
}

Row::Row(const Row& other)
    : entity(other.entity), pk(other.pk), m_present(other.m_present), m_flags(other.m_flags)
{
    const Layout layout(entity);
    Extra& own = extra();
    own.storage = std::make_unique<quint64[]>(std::max<size_t>(layout.fixedWords, 1));
    placeStorage(own.storage.get(), layout.fixedWords);
    std::copy(other.m_numbers, other.m_numbers + layout.cells, m_numbers);
    toMany = other.toMany;
    // Shares the arena of a copy until a string of either changes.
    if (other.m_inlineText)
        own.text = QByteArray(other.m_inlineText, qsizetype(other.m_inlineUsed));
    else if (other.m_extra)
        own.text = other.m_extra->text;
    for (int i = 0; i < entity->blobCount(); ++i)
        own.blobs[size_t(i)] = other.m_extra->blobs[size_t(i)];
}

std::shared_ptr<Row> Row::makeEmpty(const EntityDescription* entity, qint64 pk)
{
    return makeSized(entity, pk, 0);
}

std::shared_ptr<Row> Row::makeSized(const EntityDescription* entity, qint64 pk, qsizetype textBytes)
{
    using Maker = std::shared_ptr<Row> (*)();
    static constexpr auto makers = []<size_t... I>(std::index_sequence<I...>) {
        return std::array<Maker, sizeof...(I)>{&makeWithStorage<2 * (I + 1)>...};
    }(std::make_index_sequence<maxStorageWords / 2>());
    const Layout layout(entity);
    const size_t words = layout.fixedWords + (size_t(std::max<qsizetype>(textBytes, 0)) + 7) / 8;
    std::shared_ptr<Row> row;
    if (words <= maxStorageWords && textBytes < qsizetype(1) << 31) {
        const size_t index = words > 0 ? (words - 1) / 2 : 0;
        row = makers[index]();
        row->entity = entity;
        row->placeStorage(row->m_numbers, 2 * (index + 1));
    } else {
        row = std::make_shared<Row>();
        row->entity = entity;
        Row::Extra& own = row->extra();
        own.storage = std::make_unique<quint64[]>(std::max<size_t>(layout.fixedWords, 1));
        row->placeStorage(own.storage.get(), layout.fixedWords);
        own.text.reserve(textBytes);
    }
    row->pk = pk;
    return row;
}

std::shared_ptr<Row> Row::makeDefault(const EntityDescription* entity, qint64 pk)
{
    auto row = makeEmpty(entity, pk);
    for (const AttributeDescription& a : entity->attributes())
        row->setValue(a.slot, a.defaultValue);
    return row;
}

void Row::detachText()
{
    if (!m_inlineText)
        return;
    extra().text = QByteArray(m_inlineText, qsizetype(m_inlineUsed));
    m_inlineText = nullptr;
    m_inlineRoom = m_inlineUsed = 0;
}

void Row::setCell(const AttributeDescription& a, quint64 bits)
{
    m_present |= quint64(1) << a.slot;
    if (a.type == AttributeType::Bool)
        m_flags = bits ? m_flags | quint64(1) << a.slot : m_flags & ~(quint64(1) << a.slot);
    else
        m_numbers[size_t(a.cell)] = bits;
}

QVariant Row::value(int slot) const
{
    if (!(m_present & (quint64(1) << slot)))
        return {};
    const AttributeDescription& a = entity->attributes()[size_t(slot)];
    const size_t cell = size_t(a.cell);
    switch (a.type) {
    case AttributeType::String:
        return QString::fromUtf8(textData() + (m_numbers[cell] >> 32), qsizetype(m_numbers[cell] & 0xffffffffu));
    case AttributeType::Binary:
        return m_extra->blobs[cell];
    case AttributeType::Bool:
        return (m_flags >> slot & 1) != 0;
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
            m_extra->blobs[cell] = QByteArray();
        else if (a.type == AttributeType::Bool)
            m_flags &= ~bit;
        else
            m_numbers[cell] = 0;
        return;
    }
    switch (a.type) {
    case AttributeType::String: {
        const QByteArray utf8 = v.toString().toUtf8();
        setStringUtf8(slot, utf8.constData(), utf8.size());
        break;
    }
    case AttributeType::Binary:
        m_present |= bit;
        m_extra->blobs[cell] = v.toByteArray();
        break;
    case AttributeType::Bool:
        setCell(a, v.toBool() ? 1 : 0);
        break;
    case AttributeType::Double: {
        const double d = v.toDouble();
        quint64 bits;
        std::memcpy(&bits, &d, sizeof d);
        setCell(a, bits);
        break;
    }
    case AttributeType::Date:
        setCell(a, quint64(v.toDateTime().toMSecsSinceEpoch()));
        break;
    case AttributeType::UInt64:
        setCell(a, v.toULongLong());
        break;
    default:
        setCell(a, quint64(v.toLongLong()));
        break;
    }
}

bool Row::numberBits(int slot, quint64* bits) const
{
    if (!(m_present & (quint64(1) << slot)))
        return false;
    const AttributeDescription& a = entity->attributes()[size_t(slot)];
    *bits = a.type == AttributeType::Bool ? m_flags >> slot & 1 : m_numbers[size_t(a.cell)];
    return true;
}

bool Row::stringUtf8(int slot, QByteArrayView* text) const
{
    if (!(m_present & (quint64(1) << slot)))
        return false;
    const quint64 c = m_numbers[size_t(entity->attributes()[size_t(slot)].cell)];
    *text = QByteArrayView(textData() + (c >> 32), qsizetype(c & 0xffffffffu));
    return true;
}

void Row::setNumberBits(int slot, quint64 bits)
{
    setCell(entity->attributes()[size_t(slot)], bits);
}

void Row::setStringUtf8(int slot, const char* utf8, qsizetype size)
{
    detachText();
    QByteArray& text = extra().text;
    m_present |= quint64(1) << slot;
    // Replaced text stays in the arena as garbage until it outweighs the live text.
    qsizetype live = size;
    for (const AttributeDescription& a : entity->attributes()) {
        if (a.type == AttributeType::String && a.slot != slot && (m_present & (quint64(1) << a.slot)))
            live += qsizetype(m_numbers[size_t(a.cell)] & 0xffffffffu);
    }
    if (text.size() + size > 2 * live + 64) {
        QByteArray packed;
        packed.reserve(live);
        for (const AttributeDescription& a : entity->attributes()) {
            if (a.type != AttributeType::String || a.slot == slot || !(m_present & (quint64(1) << a.slot)))
                continue;
            quint64& c = m_numbers[size_t(a.cell)];
            const qsizetype length = qsizetype(c & 0xffffffffu);
            const quint64 offset = quint64(packed.size());
            packed.append(text.constData() + (c >> 32), length);
            c = offset << 32 | quint64(length);
        }
        text = packed;
    }
    const quint64 offset = quint64(text.size());
    text.append(utf8, size);
    m_numbers[size_t(entity->attributes()[size_t(slot)].cell)] = offset << 32 | quint64(size);
}

void Row::setFirstStringUtf8(int slot, const char* utf8, qsizetype size)
{
    if (m_inlineText && qsizetype(m_inlineRoom - m_inlineUsed) < size)
        detachText();
    m_present |= quint64(1) << slot;
    quint64 offset;
    if (m_inlineText) {
        offset = m_inlineUsed;
        std::memcpy(m_inlineText + offset, utf8, size_t(size));
        m_inlineUsed += quint32(size);
    } else {
        QByteArray& text = extra().text;
        offset = quint64(text.size());
        text.append(utf8, size);
    }
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
        return QByteArrayView(textData() + (x >> 32), qsizetype(x & 0xffffffffu))
            == QByteArrayView(other.textData() + (y >> 32), qsizetype(y & 0xffffffffu));
    }
    case AttributeType::Binary:
        return m_extra->blobs[cell] == other.m_extra->blobs[cell];
    case AttributeType::Bool:
        return (m_flags & bit) == (other.m_flags & bit);
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
