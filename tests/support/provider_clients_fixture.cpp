#include "support/provider_clients_fixture.h"

#include "config/keychain.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "support/fake_secret_store.h"
#include "support/log.h"

namespace vurin::testing {

namespace {

constexpr const char* kCloudProviders[] = {"groq", "openai", "gemini"};

}  // namespace

void ProviderClientsFixture::SetUp() {
    installSecretStore(std::make_shared<FakeSecretStore>());
    if (service_ == LocalService::whisper) {
        overrideLocalPortsForTesting(local.port(), 0);
    } else {
        overrideLocalPortsForTesting(0, local.port());
    }
    for (const char* id : kCloudProviders) {
        overrideProviderBaseURLForTesting(id, cloud.server().origin());
    }
    setLogObserver([this](const std::string& line) {
        std::lock_guard guard(logLock_);
        logLines_.push_back(line);
    });
}

void ProviderClientsFixture::TearDown() {
    setLogObserver(nullptr);
    overrideLocalPortsForTesting(0, 0);
    for (const char* id : kCloudProviders) {
        overrideProviderBaseURLForTesting(id, "");
    }
    installSecretStore(nullptr);
}

std::vector<std::string> ProviderClientsFixture::lines() {
    std::lock_guard guard(logLock_);
    std::vector<std::string> own;
    for (const auto& line : logLines_) {
        if (!line.starts_with("🔑")) {
            own.push_back(line);
        }
    }
    return own;
}

}  // namespace vurin::testing
