#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// The phone remote's server as its owner drives it. `PhoneTriggerServer` is the real one;
// tests of the pairing logic use a fake.
class PhoneServer {
  public:
    enum class Event { down, up };
    using StartCompletion = std::function<void(bool listening)>;

    virtual ~PhoneServer() = default;

    // Takes `token` at once (also when already running). The completion runs on the main
    // thread, at most once.
    virtual void start(std::string token, StartCompletion completion) = 0;
    virtual void stop() = 0;
    virtual void broadcast(std::string state) = 0;
    // "http://ADDRESS:PORT/?t=TOKEN", nothing when this machine has no usable IPv4 address.
    virtual std::optional<std::string> url(std::string_view token) const = 0;
    virtual std::uint16_t port() const = 0;
    using EventHandler = std::function<void(Event, double at)>;
    // Called on the main thread for each accepted press or release, with when the request
    // arrived on the main queue's clock; set on the main thread.
    virtual void setOnEvent(EventHandler onEvent) = 0;
};

}  // namespace vurin
