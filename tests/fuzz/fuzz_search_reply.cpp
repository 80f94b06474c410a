// Any bytes a device (or anything else on the LAN) may send to an endpoint: the receiver keeps at
// most a reply's size, zero-filled behind a short datagram, and a reply becomes row texts.
#include "discovery/Datagrams.h"
#include "discovery/DeviceRow.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, kSearchReplySize> buffer{};
    std::copy_n(data, std::min(size, buffer.size()), buffer.begin());
    if (!IsSearchReply(buffer))
        return 0;
    const SearchReply reply = ReadSearchReply(buffer);
    const auto texts = DeviceRowTexts(reply, 1);
    for (const std::string& text : texts)
        if (text.size() > 63)
            __builtin_trap(); // no field may yield more than its width minus one
    (void)IsListedModel(reply.model);
    (void)MacFromText(texts[kColumnMac]);
    return 0;
}
