// One record's state as the store and the contexts share it: attribute values by slot, to-one
// keys by slot (0 is nil) and sorted key vectors for to-many relationships.
//
// A Row is immutable once published (RowPtr): the cache, a context's snapshot and a fetch in
// flight may all hold the same row while a save swaps in a successor, so readers never see a
// half-applied save and never need the writer's lock to read an object they hold. Contexts
// copy a row before changing it (copy on write).
//
// Attribute values are kept by storage kind rather than as QVariants, because a library holds
// hundreds of thousands of rows: numbers, booleans and dates (UTC milliseconds) as 8-byte cells,
// the row's strings as UTF-8 in one shared text arena (each string's cell holds its offset and
// length), binary data in an array of its own, and a presence bit per attribute for nil.
// Copying a row shares the arena until a string of the copy changes.
#pragma once

#include "Platform/ObjectStore/EntityDescription.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <memory>
#include <vector>

namespace platform {

// The to-one keys of a row: fixed in number, stored in the row's number cells.
class KeySlots {
public:
    qint64& operator[](size_t i) { return m_data[i]; }
    qint64 operator[](size_t i) const { return m_data[i]; }
    size_t size() const { return m_size; }
    friend bool operator==(const KeySlots& a, const KeySlots& b)
    {
        return a.m_size == b.m_size && std::equal(a.m_data, a.m_data + a.m_size, b.m_data);
    }

private:
    friend class Row;
    qint64* m_data = nullptr;
    size_t m_size = 0;
};

class Row {
public:
    const EntityDescription* entity = nullptr;
    qint64 pk = 0;
    KeySlots toOne;
    std::vector<std::vector<qint64>> toMany;

    Row() = default;
    Row(const Row& other);
    Row& operator=(const Row&) = delete;

    // A row with every attribute nil, or at the model's defaults.
    static std::shared_ptr<Row> makeEmpty(const EntityDescription* entity, qint64 pk);
    static std::shared_ptr<Row> makeDefault(const EntityDescription* entity, qint64 pk);

    size_t valueCount() const { return entity->attributes().size(); }
    // The value as its attribute type gives it (see coerceAttributeValue); invalid for nil.
    QVariant value(int slot) const;
    // value must already have the attribute's type (coerceAttributeValue) or be invalid.
    void setValue(int slot, const QVariant& value);
    // Strict equality of one attribute with the same attribute of another row of the entity.
    bool sameValue(int slot, const Row& other) const;
    // The raw 8-byte cell of a number, boolean or date attribute; false when nil.
    bool numberBits(int slot, quint64* bits) const;
    // The UTF-8 bytes of a string attribute as the row keeps them; false when nil.
    bool stringUtf8(int slot, QByteArrayView* text) const;
    // A number, boolean or date attribute straight from its cell (the store's loader).
    void setNumberBits(int slot, quint64 bits);
    // A string attribute straight from UTF-8 (the store's loader reserves the arena first).
    void setStringUtf8(int slot, const char* utf8, qsizetype size);
    // The same for a string slot that has no value yet (a row being read): nothing to reclaim.
    void setFirstStringUtf8(int slot, const char* utf8, qsizetype size);
    void reserveText(qsizetype bytes) { m_text.reserve(bytes); }

    bool containsKey(int toManySlot, qint64 key) const;
    // Sorted-set edits of a to-many slot; answer whether anything changed.
    bool addKey(int toManySlot, qint64 key);
    bool removeKey(int toManySlot, qint64 key);

private:
    // Cells on the heap (copies), or in the row's own allocation (makeEmpty).
    void allocate();
    template <size_t N>
    static std::shared_ptr<Row> makeWithCells();
    void setUpCells();

    quint64 m_present = 0;
    quint64* m_numbers = nullptr; // number cells, then the to-one keys
    std::unique_ptr<quint64[]> m_ownCells;
    QByteArray m_text; // UTF-8 arena of the string attributes
    std::unique_ptr<QByteArray[]> m_blobs;
};

using RowPtr = std::shared_ptr<const Row>;

// Which attribute or to-one slots a context changed: one bit per slot (at most 64 of each).
class SlotMask {
public:
    bool operator[](size_t slot) const { return slot < 64 && (m_bits >> slot & 1); }
    size_t size() const { return 64; }
    void set(size_t slot, bool on = true)
    {
        m_bits = on ? m_bits | quint64(1) << slot : m_bits & ~(quint64(1) << slot);
    }
    void setFirst(size_t count) { m_bits = count >= 64 ? ~quint64(0) : (quint64(1) << count) - 1; }
    void clear() { m_bits = 0; }
    bool any() const { return m_bits != 0; }

private:
    quint64 m_bits = 0;
};

// Attribute values compare strictly (type and value), so that a change from 0 to false or
// from "" to nil still counts as a change.
bool sameAttributeValue(const QVariant& a, const QVariant& b);

// Sorted-vector helpers for key sets.
void keySetUnion(std::vector<qint64>& into, const std::vector<qint64>& add);
void keySetSubtract(std::vector<qint64>& from, const std::vector<qint64>& remove);
// Keys of a not in b (both sorted).
std::vector<qint64> keySetDifference(const std::vector<qint64>& a, const std::vector<qint64>& b);

} // namespace platform
