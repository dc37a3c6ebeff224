#include "MainWindow/SplitGeometry.h"

#include <algorithm>

double SplitGeometry::collapse(double firstExtent, double secondExtent, double extent)
{
    lastValue = keepsFirst() ? firstExtent : secondExtent;
    isExpand = false;
    return keepsFirst() ? 0.0 : extent;
}

double SplitGeometry::expand(double extent)
{
    isExpand = true;
    const double kept = lastValue > 0 ? lastValue : minValue;
    return keepsFirst() ? kept : extent - kept;
}

double SplitGeometry::expandWithValue(double value, double extent)
{
    isExpand = true;
    const double kept = std::max(minValue, value);
    return keepsFirst() ? kept : extent - kept;
}

double SplitGeometry::constrainMinCoordinate(double extent) const
{
    return float(masterDividerIndex == 0 ? minValue : extent - minValue);
}

double SplitGeometry::constrainMaxCoordinate(double extent) const
{
    return masterDividerIndex == 0 ? maxValue : extent - minValue;
}

double SplitGeometry::constrain(double proposed, double extent) const
{
    const double low = constrainMinCoordinate(extent);
    const double high = std::max(low, constrainMaxCoordinate(extent));
    return std::clamp(proposed, low, high);
}

double SplitGeometry::keptWithin(double wanted, double room) const
{
    const double given = std::min(wanted, std::max(room - otherMinimum, minValue));
    return std::clamp(given, 0.0, std::max(0.0, room));
}

std::pair<double, double> SplitGeometry::resize(double extent, double thickness, double keptExtent) const
{
    const double room = std::max(0.0, extent - thickness);
    const double kept = isExpand ? keptWithin(keptExtent, room) : 0.0;
    return keepsFirst() ? std::pair{kept, room - kept} : std::pair{room - kept, kept};
}
