#pragma once

#include <string_view>

namespace vurin {

// The remote's single self-contained HTML document (style and script inline, no other
// resource), served byte for byte. The token and language are taken by the page itself from
// its own address and the phone's browser.
std::string_view phonePageDocument();

}  // namespace vurin
