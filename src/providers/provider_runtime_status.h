#pragma once

#include <functional>
#include <string>

#include "config/config.h"

namespace vurin {

// What speech-to-text and polish will actually use, for the menu and the settings summary.
// The texts are in the interface language that was current when the status was computed.
struct ProviderRuntimeStatus {
    // The providers whose key is needed but missing, sorted and joined with " / "; when none
    // is missing, the speech-to-text cloud provider's name.
    std::string cloudProviderName;
    bool needsCloudKey = false;
    std::string stt;     // one-line description of the speech-to-text back end
    std::string polish;  // one-line description of the polish back end

    // "识别: … · 润色: …" / "STT: … · Polish: …", in the current interface language.
    std::string menuLine() const;

    bool operator==(const ProviderRuntimeStatus&) const = default;
};

// Whether an API key is stored under a keychain account ("GROQ_API_KEY", ...).
using CloudKeyPresence = std::function<bool(const std::string& keyAccount)>;

// The status for `config` and the readiness of the local services, with key presence answered
// by `hasKey`.
ProviderRuntimeStatus providerRuntimeStatus(const Config& config, bool localSTTReady,
                                            bool localPolishReady, const CloudKeyPresence& hasKey);

// The same, with key presence answered by the process-wide lookup below.
ProviderRuntimeStatus providerRuntimeStatus(const Config& config, bool localSTTReady,
                                            bool localPolishReady);

// Installs the process-wide key-presence lookup (the keychain, once it is wired in). Until one
// is installed, and after an empty function is installed, no key counts as present.
void setCloudKeyPresenceLookup(CloudKeyPresence lookup);

}  // namespace vurin
