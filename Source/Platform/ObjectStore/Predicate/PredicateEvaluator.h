// Evaluates a predicate tree against one object or value. Stateless: everything that depends
// only on the predicate was prepared in the nodes, so evaluation reads the subject and compares.
#pragma once

#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"
#include "Platform/ObjectStore/Predicate/PredicateNode.h"

namespace platform {

class PredicateEvaluator {
public:
    static bool evaluate(const PredicateNode& node, const KeyValueCoding& object);
    // SELF is the value; key paths walk into maps, lists and ObjectRefs.
    static bool evaluate(const PredicateNode& node, const QVariant& value);

    // The comparison node applied to its two sides already read: collections on either side
    // compare element by element (ANY), but a collection on the left of CONTAINS without ANY is
    // asked whether it holds the right side. For callers that read values their own way, such as a
    // store evaluating rows without building objects.
    static bool compare(const PredicateNode& comparison, const QVariant& left, const QVariant& right);
};

} // namespace platform
