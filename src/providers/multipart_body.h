#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vurin {

// A multipart/form-data body: the `fields` parts in the given order, then the single file part
// named "file", then the closing delimiter, with CRLF line ends. Nothing is escaped: callers
// pass plain ASCII names and values and a boundary that appears in none of them.
std::string multipartBody(std::string_view boundary, std::string_view audioData,
                          std::string_view filename, std::string_view contentType,
                          const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace vurin
