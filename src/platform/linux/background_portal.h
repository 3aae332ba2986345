#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/background_permission.h"

namespace vurin {

// The desktop portal's Background interface: RequestBackground, then its Response, on a thread
// of its own (the desktop may ask the user, which takes as long as the user takes). One request
// at a time; the destructor ends a request still waiting and joins its thread.
class BackgroundPortal {
  public:
    BackgroundPortal();
    ~BackgroundPortal();
    BackgroundPortal(const BackgroundPortal&) = delete;
    BackgroundPortal& operator=(const BackgroundPortal&) = delete;

    // `done` runs on the request's thread, once.
    void request(const std::string& reason,
                 std::function<void(BackgroundAnswer answer, const std::string& detail)> done);

    static constexpr const char* kInterface = "org.freedesktop.portal.Background";

  private:
    struct Run;
    std::shared_ptr<Run> run_;
};

}  // namespace vurin
