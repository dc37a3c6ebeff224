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

std::optional<std::vector<CellTest>> CellTest::allOf(const EntityDescription* entity, const PredicateNode& root)
{
    std::vector<CellTest> tests;
    if (root.kind == PredicateNode::Kind::True)
        return tests;
    if (root.kind != PredicateNode::Kind::And) {
        auto test = of(entity, root);
        if (!test)
            return std::nullopt;
        tests.push_back(*test);
        return tests;
    }
    for (const auto& child : root.children) {
        auto test = of(entity, *child);
        if (!test)
            return std::nullopt;
        tests.push_back(*test);
    }
    return tests;
}

} // namespace platform
