#pragma once

#include <string_view>

namespace vurin {

// Where this build of Vurin is published and supported. A deployment changes these, nothing
// else.
inline constexpr std::string_view kProductSiteHost = "vurin.app";
inline constexpr std::string_view kSupportEmailAddress = "support@vurin.app";
// The web-mail service whose compose page the support action opens.
inline constexpr std::string_view kWebMailHost = "mail.google.com";

}  // namespace vurin
