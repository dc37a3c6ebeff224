// One record's state as the store and the contexts share it: attribute values by slot, to-one
// keys by slot (0 is nil) and sorted key vectors for to-many relationships.
//
// A Row is immutable once published (RowPtr): the cache, a context's snapshot and a fetch in
// flight may all hold the same row while a save swaps in a successor, so readers never see a
// half-applied save and never need the writer's lock to read an object they hold. Contexts
// copy a row before changing it (copy on write).
//
// Attribute values are kept by storage kind rather than as QVariants, because a library holds
// hundreds of thousands of rows: numbers and dates (UTC milliseconds) as 8-byte cells, booleans
// as bits of one flag word, the row's strings as UTF-8 in one text arena (each string's cell
// holds its offset and length), binary data in an array of its own, and a presence bit per
// attribute for nil. Values become QVariants only when a key is read.
//
// A row read from the store is one allocation: the row, its cells, the headers of its key
// vectors and its text lie together, sized to the row (makeSized), because a separate block
// for each costs as much memory as the values themselves. Copies keep cells and key vectors in
// a block of their own and the text in a QByteArray, which later changes grow.
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

// The to-many key sets of a row: fixed in number, each a sorted vector.
class KeyLists {
public:
    KeyLists() = default;
    KeyLists(const KeyLists&) = delete;
    // Element-wise, between rows of one entity.
    KeyLists& operator=(const KeyLists& other)
    {
        for (size_t i = 0; i < m_size && i < other.m_size; ++i)
            m_data[i] = other.m_data[i];
        return *this;
    }
    std::vector<qint64>& operator[](size_t i) { return m_data[i]; }
    const std::vector<qint64>& operator[](size_t i) const { return m_data[i]; }
    size_t size() const { return m_size; }
    std::vector<qint64>* begin() { return m_data; }
    std::vector<qint64>* end() { return m_data + m_size; }
    const std::vector<qint64>* begin() const { return m_data; }
    const std::vector<qint64>* end() const { return m_data + m_size; }

private:
    friend class Row;
    std::vector<qint64>* m_data = nullptr;
    size_t m_size = 0;
};

class Row {
public:
    const EntityDescription* entity = nullptr;
    qint64 pk = 0;
    KeySlots toOne;
    KeyLists toMany;

    Row() = default;
    Row(const Row& other);
    Row& operator=(const Row&) = delete;
    ~Row();

    // A row with every attribute nil, or at the model's defaults.
    static std::shared_ptr<Row> makeEmpty(const EntityDescription* entity, qint64 pk);
    static std::shared_ptr<Row> makeDefault(const EntityDescription* entity, qint64 pk);
    // An empty row with room for textBytes of strings in its own allocation (the store's loader,
    // which knows the size of a record's text before it makes the row).
    static std::shared_ptr<Row> makeSized(const EntityDescription* entity, qint64 pk, qsizetype textBytes);

    size_t valueCount() const { return entity->attributes().size(); }
    // The value as its attribute type gives it (see coerceAttributeValue); invalid for nil.
    QVariant value(int slot) const;
    // value must already have the attribute's type (coerceAttributeValue) or be invalid.
    void setValue(int slot, const QVariant& value);
    // Strict equality of one attribute with the same attribute of another row of the entity.
    bool sameValue(int slot, const Row& other) const;
    // The raw 8-byte cell of a number or date attribute, 0 or 1 for a boolean; false when nil.
    bool numberBits(int slot, quint64* bits) const;
    // The UTF-8 bytes of a string attribute as the row keeps them; false when nil.
    bool stringUtf8(int slot, QByteArrayView* text) const;
    // A number, boolean or date attribute straight from its cell (the store's loader).
    void setNumberBits(int slot, quint64 bits);
    // A string attribute straight from UTF-8.
    void setStringUtf8(int slot, const char* utf8, qsizetype size);
    // The same for a string slot that has no value yet (a row being read): nothing to reclaim,
    // and the text goes into the room makeSized left when it fits.
    void setFirstStringUtf8(int slot, const char* utf8, qsizetype size);

    bool containsKey(int toManySlot, qint64 key) const;
    // Sorted-set edits of a to-many slot; answer whether anything changed.
    bool addKey(int toManySlot, qint64 key);
    bool removeKey(int toManySlot, qint64 key);

private:
    struct Layout;
    template <size_t Words>
    static std::shared_ptr<Row> makeWithStorage();
    // Cells and key vectors at storage (words long enough for Layout), then text room if any.
    void placeStorage(quint64* storage, size_t words);
    void releaseKeyLists();
    const char* textData() const
    {
        return m_inlineText ? m_inlineText : m_extra ? m_extra->text.constData() : "";
    }
    // Moves text kept in the row's own allocation into the extra part's arena, which can grow.
    void detachText();
    void setCell(const AttributeDescription& a, quint64 bits);

    // What rows read from the file seldom need, apart so that they do not pay for it.
    struct Extra {
        std::unique_ptr<quint64[]> storage; // cells and key vectors of copies and oversized rows
        QByteArray text;                     // UTF-8 arena of the strings when not inline
        std::unique_ptr<QByteArray[]> blobs;
    };
    Extra& extra()
    {
        if (!m_extra)
            m_extra = std::make_unique<Extra>();
        return *m_extra;
    }

    quint64 m_present = 0;
    quint64 m_flags = 0; // boolean attributes, one bit per slot
    quint64* m_numbers = nullptr; // number cells, then the to-one keys
    char* m_inlineText = nullptr; // text room of a makeSized row, else null
    quint32 m_inlineRoom = 0;
    quint32 m_inlineUsed = 0;
    std::unique_ptr<Extra> m_extra;
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
