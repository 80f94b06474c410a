// Any bytes a device (or whatever answers on port 4000) may send the library: the input is one
// stream, read frame by frame as the client does. A complete frame is taken or refused whole,
// a refused header stops the stream, and every message that decodes encodes back to exactly the
// bytes it came from.
#include "dvsnet/Protocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> stream(data, size);
    while (!stream.empty()) {
        const dvsnet::FrameView frame = dvsnet::DecodeFrame(stream);
        if (frame.status != dvsnet::FrameStatus::Complete) {
            // Neither kind of stop claims bytes, and a refusal comes from the header alone.
            Check(frame.consumed == 0);
            if (frame.status == dvsnet::FrameStatus::Error)
                Check(
                    dvsnet::DecodeFrame(stream.first(std::min(dvsnet::kHeaderSize, stream.size())))
                        .status == dvsnet::FrameStatus::Error);
            break;
        }
        Check(frame.consumed == dvsnet::kHeaderSize + frame.payload.size());
        Check(frame.consumed <= stream.size());
        Check(frame.payload.size() <= dvsnet::kMaxPayload);

        const auto message = dvsnet::DecodeMessage(frame.type, frame.payload);
        if (message) {
            Check(static_cast<std::uint8_t>(dvsnet::TypeOf(*message)) == frame.type);
            const auto encoded = dvsnet::EncodeMessage(*message);
            Check(encoded.has_value());
            Check(encoded->size() == frame.consumed);
            for (std::size_t i = 0; i < frame.consumed; ++i)
                Check((*encoded)[i] == stream[i]);
        }
        stream = stream.subspan(frame.consumed);
    }
    return 0;
}
