#include "providers/url_redaction.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vurin {
namespace {

constexpr std::string_view kRedacted = "REDACTED";

bool isSecretName(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::array<std::string_view, 5> kMarks = {"key", "token", "secret", "password",
                                                        "signature"};
    return std::any_of(kMarks.begin(), kMarks.end(), [&](std::string_view mark) {
        return lower.find(mark) != std::string::npos;
    });
}

std::string redactedAuthority(std::string_view url) {
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        return std::string(url);
    }
    const auto hostStart = schemeEnd + 3;
    const auto authorityEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
    const auto at = url.substr(0, authorityEnd).rfind('@');
    if (at == std::string_view::npos || at < hostStart) {
        return std::string(url);
    }
    return std::string(url.substr(0, hostStart)) + std::string(kRedacted) +
           std::string(url.substr(at));
}

std::string redactedQuery(std::string_view query) {
    std::string out;
    std::size_t start = 0;
    while (start <= query.size()) {
        const auto end = std::min(query.find('&', start), query.size());
        const auto parameter = query.substr(start, end - start);
        const auto equals = parameter.find('=');
        if (equals != std::string_view::npos && isSecretName(parameter.substr(0, equals))) {
            out.append(parameter.substr(0, equals + 1)).append(kRedacted);
        } else {
            out.append(parameter);
        }
        if (end == query.size()) {
            break;
        }
        out.push_back('&');
        start = end + 1;
    }
    return out;
}

}  // namespace

std::string redactedURL(std::string_view url) {
    const std::string withoutUser = redactedAuthority(url);
    const std::string_view text = withoutUser;
    const auto queryStart = text.find('?');
    if (queryStart == std::string_view::npos) {
        return withoutUser;
    }
    const auto fragmentStart = std::min(text.find('#', queryStart), text.size());
    return std::string(text.substr(0, queryStart + 1)) +
           redactedQuery(text.substr(queryStart + 1, fragmentStart - queryStart - 1)) +
           std::string(text.substr(fragmentStart));
}

}  // namespace vurin
