// The picture strip of a skinned button: four pictures side by side (normal, hover, pressed,
// disabled), which one a button shows, and the shape each picture gives the button window.
#pragma once

#include <cstdint>
#include <vector>

enum class FrameState { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };

constexpr int kFrameCount = 4;

// Disabled wins over everything; pressed (or held pressed, as the active tab is) over hover.
FrameState PickFrame(bool disabled, bool pressed, bool holdPressed, bool hover);

// The width of one picture: a quarter of the strip, rounded down.
constexpr int FrameWidth(int imageWidth) { return imageWidth / kFrameCount; }

// The first column of picture `frame` when its shape is read.
constexpr int ShapeLeft(int imageWidth, int frame) { return imageWidth * frame / kFrameCount; }

// A horizontal run of opaque pixels in one row, right edge exclusive.
struct PixelRun {
    int row;
    int left;
    int right;

    bool operator==(const PixelRun&) const = default;
};

// The pixels of one picture whose alpha is not 0, as runs per row, in picture coordinates.
// `alpha` holds one byte per pixel of the whole strip, `stride` bytes per row.
std::vector<PixelRun> OpaqueRuns(const std::uint8_t* alpha, int stride, int frameLeft,
                                 int frameWidth, int height);
