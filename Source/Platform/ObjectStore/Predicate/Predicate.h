// A filter over objects read through key-value coding, written in the textual predicate
// language the program builds its queries in ("isTrash == NO && path BEGINSWITH[cd] %@").
//
// One parser and one evaluator serve store fetches and in-memory filtering of items, nodes and
// plain strings, so "like[cd]", nil and implicit ANY mean the same everywhere. Parsing never
// throws: a broken text (query texts are often assembled from user input) gives an Error whose
// message names the position. A Predicate is a cheap, immutable handle on a shared tree; copies
// may be evaluated on several threads at once.
//
// Format arguments, consumed in order: %@ any value (string, number, bool, date, ObjectRef, an
// object ID, a QVariantList, an invalid QVariant for nil, or a Predicate, which is spliced in as
// a parenthesised term); %d %i %ld %lld integers; %u %lu %llu unsigned integers; %f a double;
// %K a key path. Quoted strings are never substituted into ("%@" stays literal), except that
// "%%" in them stands for "%". A QString passed for %@ is a string value, not predicate text:
// to join predicate texts, build the text and call parse(), or pass parsed Predicates.
//
// Strings: == compares exactly unless a [c]/[d] modifier is given; the text operators treat
// canonically equivalent texts (composed or decomposed accents) as equal. Text operators on
// anything but text, and ordering against nil, are false.
//
// Collections: "tags.name == 'Work'" is true when any element is 'Work' (implicit ANY), but
// "tags.name CONTAINS 'Work'" asks whether 'Work' is an element (folding by [c]/[d] as == does);
// "ANY tags.name CONTAINS 'ork'" looks for the text inside each element.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"
#include "Platform/ObjectStore/Predicate/PredicateNode.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace platform {

class Predicate {
public:
    // Error codes in the "Predicate" domain.
    enum ErrorCode {
        SyntaxError = 1,      // unexpected or missing token
        ArgumentError = 2,    // missing argument or one of the wrong kind
        UnsupportedError = 3, // a construct this language does not offer (IN, @sum, ...)
        NestingError = 4,     // nested deeper than maxNesting
    };
    static constexpr const char* errorDomain = "Predicate";
    // Deep enough for every real query; bounds the parser's recursion on hostile input.
    static constexpr int maxNesting = 200;

    // Matches everything (no predicate).
    Predicate();
    explicit Predicate(PredicateNodePtr root);

    static Result<Predicate> format(const QString& format, const QVariantList& arguments = {});
    // A text without format arguments, such as one assembled by string concatenation.
    static Result<Predicate> parse(const QString& text);

    // Compounds of already parsed predicates.
    static Predicate andPredicate(const QList<Predicate>& terms);
    static Predicate orPredicate(const QList<Predicate>& terms);
    static Predicate notPredicate(const Predicate& term);

    bool evaluate(const KeyValueCoding& object) const;
    // SELF is value: strings and numbers directly; key paths look into a QVariantMap, an
    // ObjectRef or the elements of a QVariantList.
    bool evaluate(const QVariant& value) const;

    // Parsable text for logs: format arguments appear as literals.
    QString toString() const;

    const PredicateNode& root() const { return *m_root; }
    const PredicateNodePtr& rootPointer() const { return m_root; }
    // The terms of a top-level AND (the whole predicate when it is no AND), for query planning.
    std::vector<const PredicateNode*> conjuncts() const;

    // Text with "*", "?" and "\" escaped for use inside a LIKE pattern.
    static QString escapeLike(const QString& text);
    // A double-quoted string literal for text, with "\" and quotes escaped, that parse() reads
    // back as exactly text. (format() would read a "%%" in it as "%": pass user text to
    // format() as a %@ argument instead.)
    static QString quoteString(const QString& text);

private:
    PredicateNodePtr m_root;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::Predicate)
