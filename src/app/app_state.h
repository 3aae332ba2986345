#pragma once

#include <string_view>

namespace vurin {

enum class AppState { idle, recording, transcribing, pendingSend };

// The name sent to the phone remote whenever the state is assigned.
constexpr std::string_view appStateWireName(AppState state) {
    switch (state) {
        case AppState::idle:
            return "idle";
        case AppState::recording:
            return "recording";
        case AppState::transcribing:
            return "transcribing";
        case AppState::pendingSend:
            return "pending";
    }
    return "idle";
}

}  // namespace vurin
