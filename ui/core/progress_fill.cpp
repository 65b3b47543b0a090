#include "ui/core/progress_fill.h"

#include <algorithm>
#include <cmath>

namespace velmora::ui {

int FilledSteps(float max, float value, int steps) {
    double fraction = max > 0.0f ? static_cast<double>(value) / max : 0.0;
    if (!std::isfinite(fraction)) {
        fraction = 0.0;
    }
    return static_cast<int>(std::clamp(fraction, 0.0, 1.0) * steps);
}

} // namespace velmora::ui
