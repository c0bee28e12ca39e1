#include "ZoomSteps.h"

#include <array>

namespace {

// Roughly even steps on a logarithmic scale that land on the round levels people expect.
constexpr std::array<double, 22> Steps = {0.02,    0.03, 0.05,    0.0625, 0.1, 0.125, 1.0 / 6, 0.25,
                                          1.0 / 3, 0.5,  2.0 / 3, 0.75,   1,   1.5,   2,       3,
                                          4,       6,    8,       12,     16,  32};
// Levels closer than this (relative) count as the same, so a fit of 49.99 % steps up to 67 %, not 50 %.
constexpr double Tolerance = 1.001;

} // namespace

double NextZoomStep(double Current, int Direction) {
    if (Direction > 0) {
        for (double step : Steps)
            if (step > Current * Tolerance) return step;
        return Steps.back();
    }
    for (auto it = Steps.rbegin(); it != Steps.rend(); ++it)
        if (*it * Tolerance < Current) return *it;
    return Steps.front();
}
