// Reading the token of an "Authorization: Basic" header line: standard base64 (RFC 4648, the
// "+/" alphabet, "=" padding), written here apart from the tool's own encoder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace devsim {

// Strict: the length is a multiple of 4, "=" only as the last one or two characters, and the
// bits a padded group leaves over are zero. A correct encoder writes nothing else, so anything
// else is a fault on the sending side and decodes to nothing. "" decodes to "".
std::optional<std::string> DecodeBase64(std::string_view text);

} // namespace devsim
