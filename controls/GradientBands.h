// The arithmetic of the gradient progress bar: which bands it paints, in which colours, and
// where the background starts. The window class only fills the rectangles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;

    bool operator==(const Rgb&) const = default;
};

struct GradientBand {
    int left;
    int right; // exclusive
    Rgb color;
};

struct GradientPlan {
    std::vector<GradientBand> bands;
    // The background fills from here to the right edge; -1 when the bands reach it.
    int backgroundLeft = -1;
};

// The bar is drawn only strictly between the ends of its range; at either end it looks empty.
bool ShowsBar(int lower, int position, int upper);

// position / upper of the client width, computed in floating point, rounded to single precision
// and truncated toward zero. The lower end of the range plays no part.
int FilledWidth(int position, int upper, int clientWidth);

// The gradient always spans the whole width in as many bands as the largest colour difference
// has steps; only the bands up to the first one whose right edge passes the filled width are
// shown, then the background. Equal colours give no band: the background fills everything.
GradientPlan PlanGradient(Rgb start, Rgb end, int clientWidth, int filledWidth);

// The percentage text drawn over the bar, "%.0f%%" of position / upper.
std::wstring PercentText(int position, int upper);
