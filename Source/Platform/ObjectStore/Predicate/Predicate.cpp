#include "Platform/ObjectStore/Predicate/Predicate.h"

#include "Platform/ObjectStore/Predicate/PredicateEvaluator.h"
#include "Platform/ObjectStore/Predicate/PredicateLexer.h"
#include "Platform/ObjectStore/Predicate/PredicateParser.h"

namespace platform {

namespace {

const PredicateNodePtr& truePredicate()
{
    static const PredicateNodePtr node = PredicateNode::makeConstant(true);
    return node;
}

Result<Predicate> build(const QString& text, const QVariantList* arguments)
{
    PredicateLexer lexer(text, arguments);
    PredicateParser parser(lexer.tokenize());
    Result<PredicateNodePtr> root = parser.parse();
    if (!root)
        return std::unexpected(root.error());
    return Predicate(std::move(*root));
}

std::vector<PredicateNodePtr> rootsOf(const QList<Predicate>& terms)
{
    std::vector<PredicateNodePtr> roots;
    roots.reserve(terms.size());
    for (const Predicate& term : terms)
        roots.push_back(term.rootPointer());
    return roots;
}

} // namespace

Predicate::Predicate() : m_root(truePredicate())
{
}

Predicate::Predicate(PredicateNodePtr root) : m_root(root ? std::move(root) : truePredicate())
{
}

Result<Predicate> Predicate::format(const QString& format, const QVariantList& arguments)
{
    return build(format, &arguments);
}

Result<Predicate> Predicate::parse(const QString& text)
{
    return build(text, nullptr);
}

Predicate Predicate::andPredicate(const QList<Predicate>& terms)
{
    return Predicate(PredicateNode::makeCompound(PredicateNode::Kind::And, rootsOf(terms)));
}

Predicate Predicate::orPredicate(const QList<Predicate>& terms)
{
    return Predicate(PredicateNode::makeCompound(PredicateNode::Kind::Or, rootsOf(terms)));
}

Predicate Predicate::notPredicate(const Predicate& term)
{
    return Predicate(PredicateNode::makeNot(term.m_root));
}

bool Predicate::evaluate(const KeyValueCoding& object) const
{
    return PredicateEvaluator::evaluate(*m_root, object);
}

bool Predicate::evaluate(const QVariant& value) const
{
    return PredicateEvaluator::evaluate(*m_root, value);
}

QString Predicate::toString() const
{
    return m_root->toString();
}

std::vector<const PredicateNode*> Predicate::conjuncts() const
{
    std::vector<const PredicateNode*> terms;
    if (m_root->kind == PredicateNode::Kind::And) {
        for (const PredicateNodePtr& child : m_root->children)
            terms.push_back(child.get());
    } else {
        terms.push_back(m_root.get());
    }
    return terms;
}

QString Predicate::escapeLike(const QString& text)
{
    return platform::escapeLike(text);
}

QString Predicate::quoteString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'"': out += QLatin1String("\\\""); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        default: out += c; break;
        }
    }
    out += u'"';
    return out;
}

} // namespace platform
