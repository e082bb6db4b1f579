#include "PLTsplitFloat.h"

#include <climits>
#include <cmath>

namespace
{
// The largest float that converts to an int without overflow (2^31 - 128).
const float LARGEST_WHOLE = 2147483520.0f;
} // namespace

// value = whole + fraction, whole = floor(value), 0 <= fraction < 1.
void PLTsplitFloat(float &value, int &whole)
{
    if (!(value >= 0.0f))
    {
        whole = 0;
        value = 0.0f;
        return;
    }
    if (value > LARGEST_WHOLE)
    {
        whole = INT_MAX;
        value = 0.0f;
        return;
    }
    const float floor = std::floor(value);
    whole = static_cast<int>(floor);
    value -= floor;
}
