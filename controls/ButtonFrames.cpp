#include "ButtonFrames.h"

FrameState PickFrame(bool disabled, bool pressed, bool holdPressed, bool hover)
{
    if (disabled)
        return FrameState::Disabled;
    if (pressed || holdPressed)
        return FrameState::Pressed;
    return hover ? FrameState::Hover : FrameState::Normal;
}

std::vector<PixelRun> OpaqueRuns(const std::uint8_t* alpha, int stride, int frameLeft,
                                 int frameWidth, int height)
{
    std::vector<PixelRun> runs;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = alpha + static_cast<std::ptrdiff_t>(y) * stride + frameLeft;
        int x = 0;
        while (x < frameWidth) {
            while (x < frameWidth && row[x] == 0)
                ++x;
            const int start = x;
            while (x < frameWidth && row[x] != 0)
                ++x;
            if (x > start)
                runs.push_back(PixelRun{y, start, x});
        }
    }
    return runs;
}
