#include "providers/multipart_body.h"

namespace vurin {
namespace {

constexpr std::string_view kCRLF = "\r\n";

void appendAll(std::string& out, std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) {
        out.append(piece);
    }
}

}  // namespace

std::string multipartBody(std::string_view boundary, std::string_view audioData,
                          std::string_view filename, std::string_view contentType,
                          const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    body.reserve(audioData.size() + 256 * (fields.size() + 1));
    for (const auto& [name, value] : fields) {
        appendAll(body, {"--", boundary, kCRLF});
        appendAll(body, {"Content-Disposition: form-data; name=\"", name, "\"", kCRLF, kCRLF});
        appendAll(body, {value, kCRLF});
    }
    appendAll(body, {"--", boundary, kCRLF});
    appendAll(body, {"Content-Disposition: form-data; name=\"file\"; filename=\"", filename, "\"",
                     kCRLF});
    appendAll(body, {"Content-Type: ", contentType, kCRLF, kCRLF});
    body.append(audioData);
    appendAll(body, {kCRLF, "--", boundary, "--", kCRLF});
    return body;
}

}  // namespace vurin
