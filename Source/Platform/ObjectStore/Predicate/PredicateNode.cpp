#include "Platform/ObjectStore/Predicate/PredicateNode.h"

#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/ObjectStore/Predicate/ValueComparison.h"

namespace platform {

namespace {

QString literalText(const QVariant& value)
{
    if (ValueComparison::isNil(value))
        return QStringLiteral("nil");
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("YES") : QStringLiteral("NO");
    case QMetaType::QString:
        return Predicate::quoteString(value.toString());
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::QDateTime:
        return QStringLiteral("CAST(%1, \"NSDate\")")
            .arg(QString::number(ValueComparison::referenceSecondsFromDate(value.toDateTime()), 'f', 3));
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant& element : value.toList())
            parts.append(literalText(element));
        return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
    }
    default:
        break;
    }
    if (ValueComparison::isNumber(value))
        return value.toString();
    if (const KeyValueCoding* object = kvc::object(value)) {
        const QVariant identity = object->identity();
        if (kvc::object(identity) == nullptr)
            return QStringLiteral("<object %1>").arg(literalText(identity));
        return QStringLiteral("<object>");
    }
    // Object IDs and other values: readable for logs; not meant to parse back.
    const QString text = value.canConvert<QString>() ? value.toString() : QString();
    return QStringLiteral("<%1%2>")
        .arg(QString::fromLatin1(value.metaType().name()),
             text.isEmpty() ? QString() : QStringLiteral(" ") + text);
}


QString optionsText(FoldOptions options)
{
    switch (options) {
    case FoldOptions::CaseInsensitive: return QStringLiteral("[c]");
    case FoldOptions::DiacriticInsensitive: return QStringLiteral("[d]");
    case FoldOptions::CaseAndDiacriticInsensitive: return QStringLiteral("[cd]");
    default: return {};
    }
}

} // namespace

QString predicateOperatorText(PredicateOperator op)
{
    switch (op) {
    case PredicateOperator::Equal: return QStringLiteral("==");
    case PredicateOperator::NotEqual: return QStringLiteral("!=");
    case PredicateOperator::Less: return QStringLiteral("<");
    case PredicateOperator::LessOrEqual: return QStringLiteral("<=");
    case PredicateOperator::Greater: return QStringLiteral(">");
    case PredicateOperator::GreaterOrEqual: return QStringLiteral(">=");
    case PredicateOperator::Like: return QStringLiteral("LIKE");
    case PredicateOperator::BeginsWith: return QStringLiteral("BEGINSWITH");
    case PredicateOperator::EndsWith: return QStringLiteral("ENDSWITH");
    case PredicateOperator::Contains: return QStringLiteral("CONTAINS");
    case PredicateOperator::In: return QStringLiteral("IN");
    }
    return {};
}

PredicateExpression PredicateExpression::makeConstant(const QVariant& value)
{
    PredicateExpression e;
    e.kind = Kind::Constant;
    e.constant = value;
    return e;
}

PredicateExpression PredicateExpression::makeKeyPath(const QString& keyPath)
{
    PredicateExpression e;
    e.kind = Kind::KeyPath;
    e.keyPath = keyPath;
    e.components = keyPath.split(QLatin1Char('.'));
    return e;
}

PredicateExpression PredicateExpression::makeSelf()
{
    PredicateExpression e;
    e.kind = Kind::Self;
    return e;
}

bool PredicateExpression::isCount() const
{
    return kind == Kind::KeyPath && !components.isEmpty() && components.back() == QLatin1String("@count");
}

QString PredicateExpression::toString() const
{
    switch (kind) {
    case Kind::Constant: return literalText(constant);
    case Kind::KeyPath: return keyPath;
    case Kind::Self: return QStringLiteral("SELF");
    }
    return {};
}

PredicateNodePtr PredicateNode::makeComparison(PredicateExpression left, PredicateOperator op,
                                               PredicateExpression right, PredicateModifier modifier,
                                               FoldOptions options)
{
    auto node = std::make_shared<PredicateNode>();
    node->kind = Kind::Comparison;
    node->modifier = modifier;
    node->op = op;
    node->options = options;
    node->left = std::move(left);
    node->right = std::move(right);
    // Every row would fold the same constant again; do it once here.
    if (node->right.isConstant() && ValueComparison::isString(node->right.constant)) {
        const QString text = node->right.constant.toString();
        node->hasPreparedString = true;
        node->preparedFolded = fold(text, node->options);
        if (op == PredicateOperator::Like)
            node->preparedLike = LikePattern(text, node->options);
    }
    return node;
}

PredicateNodePtr PredicateNode::makeCompound(Kind kind, std::vector<PredicateNodePtr> terms)
{
    std::vector<PredicateNodePtr> flat;
    flat.reserve(terms.size());
    for (PredicateNodePtr& term : terms) {
        if (!term)
            continue;
        if (term->kind == kind)
            flat.insert(flat.end(), term->children.begin(), term->children.end());
        else
            flat.push_back(std::move(term));
    }
    if (flat.empty())
        return makeConstant(kind == Kind::And);
    if (flat.size() == 1)
        return flat.front();
    auto node = std::make_shared<PredicateNode>();
    node->kind = kind;
    node->children = std::move(flat);
    return node;
}

PredicateNodePtr PredicateNode::makeNot(PredicateNodePtr term)
{
    auto node = std::make_shared<PredicateNode>();
    node->kind = Kind::Not;
    node->children.push_back(term ? std::move(term) : makeConstant(true));
    return node;
}

PredicateNodePtr PredicateNode::makeConstant(bool value)
{
    auto node = std::make_shared<PredicateNode>();
    node->kind = value ? Kind::True : Kind::False;
    return node;
}

bool PredicateNode::isStringOperator() const
{
    return op == PredicateOperator::Like || op == PredicateOperator::BeginsWith
        || op == PredicateOperator::EndsWith || op == PredicateOperator::Contains;
}

QString PredicateNode::toString() const
{
    switch (kind) {
    case Kind::True:
        return QStringLiteral("TRUEPREDICATE");
    case Kind::False:
        return QStringLiteral("FALSEPREDICATE");
    case Kind::Comparison: {
        QString text;
        if (modifier == PredicateModifier::Any)
            text += QStringLiteral("ANY ");
        return text + left.toString() + QLatin1Char(' ') + predicateOperatorText(op) + optionsText(options)
            + QLatin1Char(' ') + right.toString();
    }
    case Kind::Not: {
        const PredicateNode& term = *children.front();
        const bool bare = term.kind == Kind::Not || term.kind == Kind::True || term.kind == Kind::False;
        return bare ? QStringLiteral("NOT ") + term.toString()
                    : QStringLiteral("NOT (") + term.toString() + QLatin1Char(')');
    }
    case Kind::And:
    case Kind::Or: {
        QStringList parts;
        for (const PredicateNodePtr& child : children) {
            // AND binds tighter than OR: only an OR inside an AND needs parentheses.
            const bool wrap = kind == Kind::And && child->kind == Kind::Or;
            parts.append(wrap ? QLatin1Char('(') + child->toString() + QLatin1Char(')') : child->toString());
        }
        return parts.join(kind == Kind::And ? QStringLiteral(" AND ") : QStringLiteral(" OR "));
    }
    }
    return {};
}

} // namespace platform
