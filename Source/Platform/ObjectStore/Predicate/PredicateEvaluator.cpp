#include "Platform/ObjectStore/Predicate/PredicateEvaluator.h"

#include "Platform/ObjectStore/Predicate/ValueComparison.h"

namespace platform {

namespace {

// What SELF and key paths refer to: an object, or a plain value.
struct Subject {
    const KeyValueCoding* object = nullptr;
    const QVariant* value = nullptr;
};

bool isCollection(const QVariant& value)
{
    const int id = value.metaType().id();
    return id == QMetaType::QVariantList || id == QMetaType::QStringList;
}

QVariant resolve(const PredicateExpression& expression, const Subject& subject)
{
    switch (expression.kind) {
    case PredicateExpression::Kind::Constant:
        return expression.constant;
    case PredicateExpression::Kind::KeyPath:
        if (subject.object)
            return subject.object->valueForKeyPathComponents(expression.components);
        return kvc::valueForKeyPath(*subject.value, expression.components);
    case PredicateExpression::Kind::Self:
        if (subject.object) {
            // A non-owning reference: it lives only for this comparison, inside the caller's.
            return QVariant::fromValue(ObjectRef(ObjectRef(), subject.object));
        }
        return *subject.value;
    }
    return {};
}

bool stringOperator(const PredicateNode& node, const QString& text, const QVariant& right)
{
    if (node.hasPreparedString) {
        if (node.op == PredicateOperator::Like)
            return node.preparedLike.matches(text);
        // An empty operand matches nothing: callers build such operands from fields the user
        // left blank, which must not match every record.
        if (node.preparedFolded.isEmpty())
            return false;
        const QString folded = fold(text, node.options);
        switch (node.op) {
        case PredicateOperator::BeginsWith: return folded.startsWith(node.preparedFolded);
        case PredicateOperator::EndsWith: return folded.endsWith(node.preparedFolded);
        case PredicateOperator::Contains: return folded.contains(node.preparedFolded);
        default: return false;
        }
    }
    if (!ValueComparison::isString(right))
        return false;
    const QString pattern = right.toString();
    switch (node.op) {
    case PredicateOperator::Like: return likeMatch(text, pattern, node.options);
    case PredicateOperator::BeginsWith: return beginsWith(text, pattern, node.options);
    case PredicateOperator::EndsWith: return endsWith(text, pattern, node.options);
    case PredicateOperator::Contains: return contains(text, pattern, node.options);
    default: return false;
    }
}

bool equalValues(const PredicateNode& node, const QVariant& left, const QVariant& right)
{
    if (node.hasPreparedString && node.options != FoldOptions::None && ValueComparison::isString(left))
        return fold(left.toString(), node.options) == node.preparedFolded;
    return ValueComparison::equal(left, right, node.options);
}

bool compareScalars(const PredicateNode& node, const QVariant& left, const QVariant& right)
{
    switch (node.op) {
    case PredicateOperator::Equal:
        return equalValues(node, left, right);
    case PredicateOperator::NotEqual:
        return !equalValues(node, left, right);
    case PredicateOperator::Less:
        return ValueComparison::order(left, right, node.options) < 0;
    case PredicateOperator::LessOrEqual:
        return ValueComparison::order(left, right, node.options) <= 0;
    case PredicateOperator::Greater:
        return ValueComparison::order(left, right, node.options) > 0;
    case PredicateOperator::GreaterOrEqual:
        return ValueComparison::order(left, right, node.options) >= 0;
    case PredicateOperator::In:
        return false; // answered whole by compareElements, never element by element
    case PredicateOperator::Like:
    case PredicateOperator::BeginsWith:
    case PredicateOperator::EndsWith:
    case PredicateOperator::Contains:
        // Text operators apply to text only; a number or nil simply does not match.
        return ValueComparison::isString(left) && stringOperator(node, left.toString(), right);
    }
    return false;
}

// "collection CONTAINS x" asks whether x is one of the elements (compared as == compares,
// folding included); a substring of an element is not enough. Under ANY each element is
// compared on its own, so "ANY tags.name CONTAINS 'ork'" keeps matching within names.
bool collectionHolds(const PredicateNode& node, const QVariantList& elements, const QVariant& right)
{
    for (const QVariant& element : elements) {
        if (isCollection(element)) {
            if (collectionHolds(node, element.toList(), right))
                return true;
        } else if (isCollection(right)) {
            for (const QVariant& candidate : right.toList()) {
                if (equalValues(node, element, candidate))
                    return true;
            }
        } else if (equalValues(node, element, right)) {
            return true;
        }
    }
    return false;
}

// "x IN list": x equals one of the elements (folding included). A right side that is no list
// (nil, a single value) holds nothing, so the test fails rather than degrading into ==. A
// to-many on the left matches when any of its values is in the list.
bool inCollection(const PredicateNode& node, const QVariant& left, const QVariant& right)
{
    if (!isCollection(right))
        return false;
    if (isCollection(left)) {
        const QVariantList values = left.toList();
        for (const QVariant& value : values) {
            if (inCollection(node, value, right))
                return true;
        }
        return false;
    }
    const QVariantList elements = right.toList();
    for (const QVariant& element : elements) {
        if (!isCollection(element) && equalValues(node, left, element))
            return true;
    }
    return false;
}

bool compareElements(const PredicateNode& node, const QVariant& left, const QVariant& right)
{
    if (node.op == PredicateOperator::In)
        return inCollection(node, left, right);
    if (node.op == PredicateOperator::Contains && node.modifier == PredicateModifier::Direct && isCollection(left))
        return collectionHolds(node, left.toList(), right);
    if (isCollection(left)) {
        const QVariantList elements = left.toList();
        for (const QVariant& element : elements) {
            if (compareElements(node, element, right))
                return true;
        }
        return false;
    }
    if (isCollection(right)) {
        const QVariantList elements = right.toList();
        for (const QVariant& element : elements) {
            if (compareScalars(node, left, element))
                return true;
        }
        return false;
    }
    return compareScalars(node, left, right);
}

bool evaluateNode(const PredicateNode& node, const Subject& subject)
{
    switch (node.kind) {
    case PredicateNode::Kind::True:
        return true;
    case PredicateNode::Kind::False:
        return false;
    case PredicateNode::Kind::Not:
        return !evaluateNode(*node.children.front(), subject);
    case PredicateNode::Kind::And:
        for (const PredicateNodePtr& child : node.children) {
            if (!evaluateNode(*child, subject))
                return false;
        }
        return true;
    case PredicateNode::Kind::Or:
        for (const PredicateNodePtr& child : node.children) {
            if (evaluateNode(*child, subject))
                return true;
        }
        return false;
    case PredicateNode::Kind::Comparison:
        return PredicateEvaluator::compare(node, resolve(node.left, subject), resolve(node.right, subject));
    }
    return false;
}

} // namespace

bool PredicateEvaluator::evaluate(const PredicateNode& node, const KeyValueCoding& object)
{
    return evaluateNode(node, Subject{&object, nullptr});
}

bool PredicateEvaluator::evaluate(const PredicateNode& node, const QVariant& value)
{
    if (const KeyValueCoding* object = kvc::object(value))
        return evaluateNode(node, Subject{object, nullptr});
    return evaluateNode(node, Subject{nullptr, &value});
}

bool PredicateEvaluator::compare(const PredicateNode& comparison, const QVariant& left, const QVariant& right)
{
    // ANY over nothing is false: nil stands for an empty collection here.
    if (comparison.modifier == PredicateModifier::Any && ValueComparison::isNil(left))
        return false;
    return compareElements(comparison, left, right);
}

} // namespace platform
