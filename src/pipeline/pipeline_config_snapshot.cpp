#include "pipeline/pipeline_config_snapshot.h"

namespace vurin {

PipelineConfigSnapshot::PipelineConfigSnapshot(const Config& config)
    : sendOnClick_(config.sendOnClick),
      sttProvider_(config.sttProvider),
      sttLanguage_(config.sttLanguage),
      polishProvider_(config.polishProvider),
      allowCloudFallback_(config.allowCloudFallback),
      saveTextHistory_(config.saveTextHistory),
      sttCloudProvider_(config.sttCloudProvider),
      polishCloudProvider_(config.polishCloudProvider) {}

}  // namespace vurin
