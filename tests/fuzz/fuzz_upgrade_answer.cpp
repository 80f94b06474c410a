// What a device sends back during an upgrade: its "@"-framed final answer and the progress page
// the polling reads a value from.
#include "upgrade/PackageUpload.h"
#include "upgrade/ProgressPolling.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ResultCodeFromAnswer(text);
    const std::string value = GetValueAfterKey(text, "process=", '\n');
    if (value.size() > text.size())
        __builtin_trap();
    (void)LeadingPercent(value);
    return 0;
}
