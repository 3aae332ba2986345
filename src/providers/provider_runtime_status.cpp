#include "providers/provider_runtime_status.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "providers/provider_catalogue.h"
#include "support/language.h"

namespace vurin {
namespace {

struct KeyPresenceLookup {
    std::mutex lock;
    CloudKeyPresence lookup;
};

KeyPresenceLookup& keyPresenceLookup() {
    static KeyPresenceLookup shared;
    return shared;
}

CloudKeyPresence currentKeyPresence() {
    auto& shared = keyPresenceLookup();
    std::lock_guard guard(shared.lock);
    return shared.lookup;
}

// One stage's settings and what is known about it.
struct Stage {
    std::string_view setting;  // "local", "cloud" or anything else
    bool local;
    bool localReady;
    bool keyPresent;
    bool allowCloudFallback;
    const CloudProviderInfo& provider;

    // Only an explicit "cloud" setting needs a key of itself; any other value needs one only
    // through the fallback.
    bool needsMissingKey() const {
        return !keyPresent && (setting == "cloud" || allowCloudFallback);
    }
};

// `localZh` / `localEn` name the stage's local back end: "本地" / "Local" for speech,
// "本地qwen" / "Local qwen" for polish.
std::string describe(const Stage& stage, std::string_view localZh, std::string_view localEn) {
    const std::string zh(localZh);
    const std::string en(localEn);
    if (stage.local) {
        if (stage.localReady) {
            return L(zh + "(就绪)", en + " ready");
        }
        if (stage.allowCloudFallback && stage.keyPresent) {
            return L(zh, en) + "→" + stage.provider.name;
        }
        return L(zh + "(未就绪)", en + " not ready");
    }
    if (stage.keyPresent) {
        return stage.provider.name;
    }
    return stage.provider.name + L("(缺 Key)", " (missing key)");
}

std::string joinMissing(const Stage& speech, const Stage& polish) {
    std::vector<std::string> names;
    if (speech.needsMissingKey()) {
        names.push_back(speech.provider.name);
    }
    if (polish.needsMissingKey()) {
        names.push_back(polish.provider.name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::string joined;
    for (const auto& name : names) {
        joined += (joined.empty() ? "" : " / ") + name;
    }
    return joined;
}

}  // namespace

std::string ProviderRuntimeStatus::menuLine() const {
    return L("识别", "STT") + ": " + stt + "   ·   " + L("润色", "Polish") + ": " + polish;
}

ProviderRuntimeStatus providerRuntimeStatus(const Config& config, bool localSTTReady,
                                            bool localPolishReady, const CloudKeyPresence& hasKey) {
    const CloudProviderInfo speechEntry = cloudProviderInfo(config.sttCloudProvider);
    const CloudProviderInfo polishEntry = cloudProviderInfo(config.polishCloudProvider);
    const auto present = [&](const CloudProviderInfo& entry) {
        return hasKey && hasKey(entry.keyAccount);
    };
    const Stage speech{config.sttProvider,   config.sttProvider == "local", localSTTReady,
                       present(speechEntry), config.allowCloudFallback,     speechEntry};
    const Stage polish{config.polishProvider, config.polishProvider == "local", localPolishReady,
                       present(polishEntry),  config.allowCloudFallback,        polishEntry};

    ProviderRuntimeStatus status;
    const std::string missing = joinMissing(speech, polish);
    status.needsCloudKey = !missing.empty();
    status.cloudProviderName = missing.empty() ? speechEntry.name : missing;
    status.stt = describe(speech, "本地", "Local");
    status.polish = describe(polish, "本地qwen", "Local qwen");
    return status;
}

ProviderRuntimeStatus providerRuntimeStatus(const Config& config, bool localSTTReady,
                                            bool localPolishReady) {
    return providerRuntimeStatus(config, localSTTReady, localPolishReady, currentKeyPresence());
}

void setCloudKeyPresenceLookup(CloudKeyPresence lookup) {
    auto& shared = keyPresenceLookup();
    std::lock_guard guard(shared.lock);
    shared.lookup = std::move(lookup);
}

}  // namespace vurin
