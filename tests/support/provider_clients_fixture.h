#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/provider_stand_ins.h"

namespace vurin::testing {

// The speech-to-text and polish clients against stand-ins: the local service and every cloud
// provider point at loopback servers, the keychain is an empty fake, and the log is captured.
class ProviderClientsFixture : public ::testing::Test {
  protected:
    enum class LocalService { whisper, ollama };

    explicit ProviderClientsFixture(LocalService service) : service_(service) {}

    void SetUp() override;
    void TearDown() override;

    // The clients' own lines (the keychain reports a missing key on its own).
    std::vector<std::string> lines();

    ScriptedStandIn local;
    ScriptedStandIn cloud;

  private:
    LocalService service_;
    std::mutex logLock_;
    std::vector<std::string> logLines_;
};

}  // namespace vurin::testing
