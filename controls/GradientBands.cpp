#include "GradientBands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Float to int with truncation toward zero, kept inside int's range so no input is undefined.
int Truncate(double value)
{
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::clamp(value, -2147483648.0, 2147483647.0));
}

} // namespace

bool ShowsBar(int lower, int position, int upper)
{
    return lower < position && position < upper;
}

int FilledWidth(int position, int upper, int clientWidth)
{
    if (upper == 0)
        return 0;
    const double exact = static_cast<double>(position) / upper * clientWidth;
    return Truncate(static_cast<float>(exact));
}

GradientPlan PlanGradient(Rgb start, Rgb end, int clientWidth, int filledWidth)
{
    const int deltaRed = end.red - start.red;
    const int deltaGreen = end.green - start.green;
    const int deltaBlue = end.blue - start.blue;
    const int count = std::max({std::abs(deltaRed), std::abs(deltaGreen), std::abs(deltaBlue)});

    GradientPlan plan;
    if (count == 0) {
        plan.backgroundLeft = 0;
        return plan;
    }
    // Single precision on purpose: the band edges and colours follow float rounding.
    const float width = static_cast<float>(clientWidth) / static_cast<float>(count);
    const float stepRed = static_cast<float>(deltaRed) / static_cast<float>(count);
    const float stepGreen = static_cast<float>(deltaGreen) / static_cast<float>(count);
    const float stepBlue = static_cast<float>(deltaBlue) / static_cast<float>(count);

    for (int i = 0; i < count; ++i) {
        const float index = static_cast<float>(i);
        GradientBand band{Truncate(index * width), Truncate((index + 1.0f) * width),
                          Rgb{static_cast<std::uint8_t>(Truncate(start.red + index * stepRed)),
                              static_cast<std::uint8_t>(Truncate(start.green + index * stepGreen)),
                              static_cast<std::uint8_t>(Truncate(start.blue + index * stepBlue))}};
        plan.bands.push_back(band);
        if (band.right > filledWidth) {
            plan.backgroundLeft = band.right;
            return plan;
        }
    }
    // Float rounding can leave the last band a pixel short of the edge; that strip gets the
    // background too rather than whatever the buffer held.
    if (!plan.bands.empty() && plan.bands.back().right < clientWidth)
        plan.backgroundLeft = plan.bands.back().right;
    return plan;
}

std::wstring PercentText(int position, int upper)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.0f%%", position * 100.0 / upper);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}
