#include "Platform/ObjectStore/CellTest.h"

#include <limits>

namespace platform {

std::optional<CellTest> CellTest::of(const EntityDescription* entity, const PredicateNode& term)
{
    if (term.kind != PredicateNode::Kind::Comparison || term.modifier != PredicateModifier::Direct
        || term.options != FoldOptions::None || term.isStringOperator() || !term.left.isKeyPath()
        || term.left.components.size() != 1 || !term.right.isConstant())
        return std::nullopt;
    // Sub-entities keep their parent's attributes at the same slots.
    const AttributeDescription* a = entity->attribute(term.left.keyPath);
    if (!a)
        return std::nullopt;
    switch (a->type) {
    case AttributeType::Bool:
    case AttributeType::Int16:
    case AttributeType::Int32:
    case AttributeType::Int64:
    case AttributeType::UInt32:
        break; // cells hold the value as a signed 64-bit number (booleans as 0 and 1)
    default:
        return std::nullopt;
    }
    CellTest test;
    test.slot = a->slot;
    test.op = term.op;
    const QVariant& c = term.right.constant;
    switch (c.isValid() ? c.metaType().id() : QMetaType::Nullptr) {
    case QMetaType::Nullptr:
        test.nil = true;
        break;
    case QMetaType::Bool:
        test.value = c.toBool() ? 1 : 0;
        break;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        test.value = c.toLongLong();
        break;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        if (c.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        test.value = qint64(c.toULongLong());
        break;
    default:
        return std::nullopt;
    }
    return test;
}

std::optional<CellTest::Terms> CellTest::within(const EntityDescription* entity, const PredicateNode& root)
{
    Terms terms;
    terms.whole = true;
    if (root.kind == PredicateNode::Kind::True)
        return terms;
    if (root.kind != PredicateNode::Kind::And) {
        auto test = of(entity, root);
        if (!test)
            return std::nullopt;
        terms.tests.push_back(*test);
        return terms;
    }
    for (const auto& child : root.children) {
        if (auto test = of(entity, *child))
            terms.tests.push_back(*test);
        else
            terms.whole = false;
    }
    if (terms.tests.empty())
        return std::nullopt;
    return terms;
}

} // namespace platform
