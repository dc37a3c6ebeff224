// A comparison of a whole-number or boolean attribute of the record itself with a whole-number
// constant or nil: the bulk of the program's filters ("isTrash == NO"). Fetches answer it from
// a row's cell instead of through key-value coding, and SQLite answers it for a table that is
// not in memory, so both must give the answers of the evaluator: nil equals only nil and
// orders with nothing.
#pragma once

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/ObjectStore/Row.h"

#include <optional>

namespace platform {

struct CellTest {
    int slot = 0;
    PredicateOperator op = PredicateOperator::Equal;
    bool nil = false;
    qint64 value = 0;

    bool matches(const Row& row) const
    {
        quint64 bits = 0;
        const bool present = row.numberBits(slot, &bits);
        if (!present || nil) {
            const bool same = !present && nil;
            return op == PredicateOperator::Equal ? same : op == PredicateOperator::NotEqual && !same;
        }
        const qint64 v = qint64(bits);
        switch (op) {
        case PredicateOperator::Equal: return v == value;
        case PredicateOperator::NotEqual: return v != value;
        case PredicateOperator::Less: return v < value;
        case PredicateOperator::LessOrEqual: return v <= value;
        case PredicateOperator::Greater: return v > value;
        case PredicateOperator::GreaterOrEqual: return v >= value;
        default: return false;
        }
    }

    // The test for one comparison term, or none when the term is anything else.
    static std::optional<CellTest> of(const EntityDescription* entity, const PredicateNode& term);
    // The tests among a predicate's top-level terms, which every match passes; whole when they
    // are the predicate ("everything" is no tests). None when there are no such tests and the
    // predicate is something else.
    struct Terms {
        std::vector<CellTest> tests;
        bool whole = false;
    };
    static std::optional<Terms> within(const EntityDescription* entity, const PredicateNode& root);
};

} // namespace platform
