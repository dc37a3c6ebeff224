// The parsed form of a predicate, public so that the object store can plan and compile queries
// (pick an index for a top-level "key == constant" term, an inverse set for "toOne == object" or
// "ANY toMany == object") instead of scanning.
//
// Nodes are immutable once made and shared between copies of a predicate, which lets several
// threads evaluate one predicate at once. Work that depends only on the predicate (splitting key
// paths, folding a constant string, preparing a LIKE pattern) is done when the node is made, so
// evaluating a row costs only the row's own work.
#pragma once

#include "Platform/Foundation/TextFolding.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

namespace platform {

enum class PredicateOperator {
    Equal,          // == or =
    NotEqual,       // != or <>
    Less,
    LessOrEqual,
    Greater,
    GreaterOrEqual,
    Like,
    BeginsWith,
    EndsWith,
    Contains,
    In,             // the left value equals one element of the collection on the right
};

// A comparison's left side: as written, or ANY over a collection. A key path through a to-many
// without ANY compares the same way (implicit ANY), except CONTAINS, which then tests membership.
enum class PredicateModifier { Direct, Any };

struct PredicateExpression {
    enum class Kind { Constant, KeyPath, Self };

    Kind kind = Kind::Constant;
    QVariant constant;      // Constant: an invalid QVariant is nil
    QString keyPath;        // KeyPath: "metadata.comment"
    QStringList components; // KeyPath: {"metadata", "comment"}

    static PredicateExpression makeConstant(const QVariant& value);
    static PredicateExpression makeKeyPath(const QString& keyPath);
    static PredicateExpression makeSelf();

    bool isConstant() const { return kind == Kind::Constant; }
    bool isKeyPath() const { return kind == Kind::KeyPath; }
    bool isSelf() const { return kind == Kind::Self; }
    // Whether the key path ends in "@count".
    bool isCount() const;

    // Parsable text: a key path, SELF, or the constant as a literal.
    QString toString() const;
};

struct PredicateNode {
    enum class Kind { Comparison, And, Or, Not, True, False };

    Kind kind = Kind::True;

    // Comparison
    PredicateModifier modifier = PredicateModifier::Direct;
    PredicateOperator op = PredicateOperator::Equal;
    FoldOptions options = FoldOptions::None;
    PredicateExpression left;
    PredicateExpression right;

    // And, Or: two or more terms, flattened (a && (b && c) has three); Not: exactly one.
    std::vector<std::shared_ptr<const PredicateNode>> children;

    // Prepared from a constant string on the right when the node is made.
    bool hasPreparedString = false;
    QString preparedFolded; // fold(constant, options)
    LikePattern preparedLike;

    static std::shared_ptr<const PredicateNode> makeComparison(PredicateExpression left,
                                                              PredicateOperator op,
                                                              PredicateExpression right,
                                                              PredicateModifier modifier = PredicateModifier::Direct,
                                                              FoldOptions options = FoldOptions::None);
    // And/Or of the terms; a single term is answered as is, nested nodes of the same kind are
    // flattened. No terms: True for And, False for Or.
    static std::shared_ptr<const PredicateNode> makeCompound(Kind kind,
                                                            std::vector<std::shared_ptr<const PredicateNode>> terms);
    static std::shared_ptr<const PredicateNode> makeNot(std::shared_ptr<const PredicateNode> term);
    static std::shared_ptr<const PredicateNode> makeConstant(bool value);

    bool isStringOperator() const;

    // Parsable text, parenthesised where precedence needs it.
    QString toString() const;
};

using PredicateNodePtr = std::shared_ptr<const PredicateNode>;

// The text of an operator: "==", "BEGINSWITH", ...
QString predicateOperatorText(PredicateOperator op);

} // namespace platform
