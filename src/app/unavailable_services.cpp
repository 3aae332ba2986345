#include "app/unavailable_services.h"

#include "audio/peak_level.h"
#include "audio/recording_files.h"
#include "support/log.h"

namespace vurin {

bool UnavailableRecorder::start(bool) {
    log("❌ 录音功能尚未接入此版本,无法开始录音");
    return false;
}

void UnavailableRecorder::stop(StopCompletion completion) {
    completion(std::nullopt, 0.0);
}

void UnavailableDictationRunner::run(const DictationJob& job, const DictationHooks& hooks) {
    log("❌ 转写与润色尚未接入此版本,录音已丢弃");
    hooks.setIdleIfCurrent(job.generation);
}

void UnavailableInjector::inject(const std::string&, std::weak_ptr<InjectionHost> host) {
    log("❌ 文本注入尚未接入此版本,已阻止粘贴");
    if (auto live = host.lock()) {
        live->injectionEndedWithoutPending();
    }
}

SendOutcome UnavailableInjector::sendReturn(const PendingInjection&) {
    log("❌ 合成回车失败");
    return SendOutcome::keystrokeFailed;
}

void UnavailableInjector::undoInsertedText(const PendingInjection&) {
    log("✖ 已取消(文本注入尚未接入此版本,输入框文本请手动删除)");
}

void UnavailablePermissionGate::checkPermissions() {
    log("⚠️ 权限检查尚未接入此版本");
}

void UnavailablePermissionGate::showPermissionOnboarding() {
    log("⚠️ 权限引导窗口尚未接入此版本");
}

bool UnavailableTriggerCapture::setupEventTap() {
    log("⚠️ 触发键捕获尚未接入此版本");
    return false;
}

void UnavailableSettingsPresenter::showSettings() {
    log("⚠️ 设置窗口尚未接入此版本");
}

void fillUnavailableServices(AppServices& services) {
    auto fill = [](auto& slot, auto make) {
        if (!slot) {
            slot = make();
        }
    };
    fill(services.recorder, [] { return std::make_shared<UnavailableRecorder>(); });
    fill(services.localServer, [] { return std::make_shared<UnavailableLocalService>(); });
    fill(services.ollamaServer, [] { return std::make_shared<UnavailableLocalService>(); });
    fill(services.dictationPipeline, [] { return std::make_shared<UnavailableDictationRunner>(); });
    fill(services.injector, [] { return std::make_shared<UnavailableInjector>(); });
    fill(services.phone, [] { return std::make_shared<UnavailablePhoneRemote>(); });
    fill(services.permissions, [] { return std::make_shared<UnavailablePermissionGate>(); });
    fill(services.triggerCapture, [] { return std::make_shared<UnavailableTriggerCapture>(); });
    fill(services.settings, [] { return std::make_shared<UnavailableSettingsPresenter>(); });

    auto& probes = services.probes;
    auto none = []() -> std::optional<std::filesystem::path> { return std::nullopt; };
    fill(probes.findWhisperServerBin, [&] { return none; });
    fill(probes.findOllamaBin, [&] { return none; });
    fill(probes.whisperModelExists, [] { return [] { return false; }; });
    fill(probes.ollamaModelInstalled, [] { return [] { return false; }; });
    auto nothing = [] { return [] {}; };
    fill(services.cleanupStaleRecordingFiles, [] { return [] { cleanupStaleRecordingFiles(); }; });
    fill(services.migrateEnvKeysToKeychain, nothing);
    fill(services.checkForUpdatesOnLaunchIfEnabled, nothing);
    fill(services.peakDBFS,
         [] { return [](const std::filesystem::path& file) { return peakDBFS(file); }; });
    fill(services.triggerKeyDisplayName,
         [] { return [](std::int64_t code) { return "键码 " + std::to_string(code); }; });
    fill(services.showPhoneTriggerWindow,
         [] { return [] { log("⚠️ 手机遥控窗口尚未接入此版本"); }; });
    fill(services.checkForUpdatesMenu,
         [] { return [] { log("⚠️ 检查更新尚未接入此版本"); }; });
    fill(services.refreshSettingsAfterFallbackChange, nothing);
}

}  // namespace vurin
