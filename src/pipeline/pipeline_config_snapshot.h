#pragma once

#include <string>

#include "config/config.h"

namespace vurin {

// The eight settings a dictation job needs, copied when the recording stops, so that changes
// made in the menu while the job runs do not affect it. Holds no key material: cloud keys are
// read from the keychain when they are needed.
class PipelineConfigSnapshot {
  public:
    // Copies the fields verbatim; nothing is validated or normalised here.
    explicit PipelineConfigSnapshot(const Config& config);

    bool sendOnClick() const { return sendOnClick_; }
    const std::string& sttProvider() const { return sttProvider_; }
    const std::string& sttLanguage() const { return sttLanguage_; }
    const std::string& polishProvider() const { return polishProvider_; }
    bool allowCloudFallback() const { return allowCloudFallback_; }
    bool saveTextHistory() const { return saveTextHistory_; }
    const std::string& sttCloudProvider() const { return sttCloudProvider_; }
    const std::string& polishCloudProvider() const { return polishCloudProvider_; }

    bool operator==(const PipelineConfigSnapshot&) const = default;

  private:
    bool sendOnClick_;
    std::string sttProvider_;
    std::string sttLanguage_;
    std::string polishProvider_;
    bool allowCloudFallback_;
    bool saveTextHistory_;
    std::string sttCloudProvider_;
    std::string polishCloudProvider_;
};

}  // namespace vurin
