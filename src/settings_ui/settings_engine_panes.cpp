#include "app/app_controller.h"
#include "config/keychain.h"
#include "local_services/service_constants.h"
#include "providers/provider_catalogue.h"
#include "settings_ui/settings_controller.h"
#include "settings_ui/settings_window_model.h"
#include "support/language.h"

namespace vurin {

using namespace settings_model;

namespace {

constexpr int kKeyButtonWidth = 108;

// What the key field suggests when no key is stored.
std::string keyHint(const CloudProviderInfo& provider) {
    if (provider.id == "gemini") {
        return "Google AI Studio Key";
    }
    return provider.id == "openai" ? "sk-…" : "gsk_…";
}

int catalogueIndex(std::string_view id) {
    const auto providers = cloudProviderList();
    for (std::size_t i = 0; i < providers.size(); ++i) {
        if (providers[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return 0;  // an unknown id is Groq, the first
}

// A local component's status: missing, running or idle.
Control componentStatus(bool installed, bool ready) {
    if (!installed) {
        return makeLabel(L("未安装", "Not installed"), TextStyle{.colour = ColourRole::orange});
    }
    return ready ? makeLabel("Running", TextStyle{.colour = ColourRole::green})
                 : makeLabel("Idle", TextStyle{.colour = ColourRole::secondary});
}

}  // namespace

Pane SettingsController::buildSTTPane() {
    auto app = controller();
    const Config config = app ? app->config() : Config{};
    const bool local = config.sttProvider == "local";
    Pane pane;
    pane.cards.push_back(card(
        "waveform", L("语音识别", "Speech recognition"),
        {row(L("识别引擎", "Engine"),
             L("本地免费离线;云端更快", "Local is free & offline; cloud is faster"),
             {segments({L("云端", "Cloud"), L("本地 whisper", "Local")}, local ? 1 : 0,
                       weakAction(&SettingsController::sttSegChanged))}),
         row(L("识别语言", "Language"), L("自动检测中英,多约 0.7 秒", "Auto-detect adds ~0.7s"),
             {segments({L("自动", "Auto"), "中文", "English"},
                       segmentFor(kSpeechLanguageSegments, config.sttLanguage),
                       weakAction(&SettingsController::langSegChanged))})}));
    if (config.sttProvider == "cloud") {
        pane.cards.push_back(
            cloudProviderCard("stt", L("云端模型", "Cloud model"),
                              L("云端识别会把音频发送到所选服务商。",
                                "Cloud speech sends audio to the selected provider.")));
    } else if (local) {
        for (auto& localCard : localModelsCards("stt")) {
            pane.cards.push_back(std::move(localCard));
        }
    }
    return pane;
}

Pane SettingsController::buildPolishPane() {
    auto app = controller();
    const Config config = app ? app->config() : Config{};
    const bool local = config.polishProvider == "local";
    Pane pane;
    pane.cards.push_back(
        card("text.badge.checkmark", L("文本润色", "Text polishing"),
             {row(L("润色引擎", "Engine"),
                  L("把口语整理成干净指令", "Cleans speech into a crisp command"),
                  {segments({L("云端", "Cloud"), L("本地 qwen", "Local")}, local ? 1 : 0,
                            weakAction(&SettingsController::polishSegChanged))})}));
    if (config.polishProvider == "cloud") {
        pane.cards.push_back(
            cloudProviderCard("polish", L("云端模型", "Cloud model"),
                              L("云端润色只发送转写文本,不发送音频。",
                                "Cloud polish sends transcript text only, not audio.")));
    } else if (local) {
        for (auto& localCard : localModelsCards("polish")) {
            pane.cards.push_back(std::move(localCard));
        }
    }
    return pane;
}

std::vector<Card> SettingsController::localModelsCards(std::string_view scope) {
    const auto& probes = services_.probes;
    const bool whisperInstalled = probes.findWhisperServerBin && probes.findWhisperServerBin() &&
                                  probes.whisperModelExists && probes.whisperModelExists();
    const bool qwenInstalled = probes.findOllamaBin && probes.findOllamaBin() &&
                               probes.ollamaModelInstalled && probes.ollamaModelInstalled();
    const std::string qwenName(ollamaModel);

    std::vector<CardBlock> blocks = {
        row(L("本地 whisper", "Local whisper"), "large-v3-turbo",
            {componentStatus(whisperInstalled, services_.localServer->isReady())}),
        row(L("本地 qwen", "Local qwen"), qwenName,
            {componentStatus(qwenInstalled, services_.ollamaServer->isReady())})};
    if (scope == "stt") {
        blocks.push_back(note(L("App 启动后会自动拉起本地识别服务。",
                                "Vurin starts the local speech service on launch.")));
    } else {
        const std::string keepAlive(ollamaKeepAlive);
        blocks.push_back(note(
            L("ollama 请求带 keep_alive=" + keepAlive + ",让模型常驻内存" + ",减少冷启动长尾。",
              "Requests ask ollama to keep the model loaded (keep_alive=" + keepAlive + "), which" +
                  " reduces cold-start tails.")));
    }
    if (!whisperInstalled) {
        blocks.push_back(note(L("未检测到 whisper 或语音模型,用下面的按钮安装。",
                                "Whisper or the speech model is missing — install below."),
                              ColourRole::orange));
    }
    if (!qwenInstalled) {
        blocks.push_back(note(
            L("未检测到 qwen2.5:7b,用下面的按钮安装。", "qwen2.5:7b is missing — install below."),
            ColourRole::orange));
    }
    if (!whisperInstalled || !qwenInstalled) {
        std::vector<std::string> missing;
        if (!whisperInstalled) {
            missing.emplace_back("whisper");
        }
        if (!qwenInstalled) {
            missing.push_back(qwenName);
        }
        const std::string zhList =
            missing.size() == 2 ? missing[0] + "、" + missing[1] : missing[0];
        const std::string enList =
            missing.size() == 2 ? missing[0] + ", " + missing[1] : missing[0];
        blocks.push_back(
            ControlRowBlock{.controls = {makeButton(
                                L("安装缺失组件(打开终端)…", "Install missing (opens a terminal)…"),
                                weakAction(&SettingsController::installLocalModels))}});
        blocks.push_back(
            note(L("缺少:" + zhList + "。脚本会跳过已就绪组件,可能需要输入 sudo 密码。",
                   "Missing: " + enList +
                       ". The installer skips ready components; it may ask for your "
                       "sudo password.")));
    }
    std::vector<Card> cards;
    cards.push_back(card("cpu", L("本地模型", "Local models"), std::move(blocks)));

    auto app = controller();
    const bool fallback = app && app->config().allowCloudFallback;
    cards.push_back(card(
        "arrow.triangle.branch", L("全局回退", "Global fallback"),
        {row(L("失败时回退云端", "Fall back to cloud on failure"),
             L("默认关闭 · 影响识别和润色", "Off by default · affects Speech & Polish"),
             {makeSwitch(fallback,
                         [weak = weak_from_this()](bool) {
                             if (auto self = weak.lock()) {
                                 self->cloudFallbackSwitchChanged();
                             }
                         })}),
         note(L("打开后,对应本地组件未就绪时,音频或文本可能发送到下方所选服务商。",
                "When on, audio or text may be sent to the provider below if the matching local "
                "component is unavailable."))}));
    if (fallback) {
        cards.push_back(cloudProviderCard(
            scope, L("回退云端模型", "Fallback cloud model"),
            scope == "stt"
                ? L("本地未就绪且允许回退时,音频会发送到此服务商。",
                    "When local is unavailable and fallback is on, audio goes to this provider.")
                : L("本地未就绪且允许回退时,转写文本会发送到此服务商。",
                    "When local is unavailable and fallback is on, transcript text goes to this "
                    "provider.")));
    }
    return cards;
}

Card SettingsController::cloudProviderCard(std::string_view scope, const std::string& title,
                                           const std::string& scopeNote) {
    auto app = controller();
    const bool stt = scope == "stt";
    const std::string selectedId =
        app ? (stt ? app->config().sttCloudProvider : app->config().polishCloudProvider) : "groq";
    const auto provider = cloudProviderInfo(selectedId);
    const auto& name = provider.name;
    const bool stored = !cloudKey(provider.id).empty();

    std::vector<std::string> names;
    for (const auto& entry : cloudProviderList()) {
        names.push_back(entry.name);
    }
    const std::string fieldKey = std::string(scope) + ":" + provider.id;
    const ControlId fieldId = kSettingsKeyFieldIdPrefix + fieldKey;
    settingsProviderFields_[fieldKey] = fieldId;
    auto save = weakAction(stt ? &SettingsController::saveSTTCloudKey
                               : &SettingsController::savePolishCloudKey);
    auto clear = weakAction(stt ? &SettingsController::clearSTTCloudKey
                                : &SettingsController::clearPolishCloudKey);

    return card(
        "cloud", title,
        {row(L("服务商", "Provider"), std::nullopt,
             {Control{{},
                      PopUpButton{.items = std::move(names),
                                  .selected = catalogueIndex(provider.id),
                                  .action = weakAction(
                                      stt ? &SettingsController::sttCloudProviderChanged
                                          : &SettingsController::polishCloudProviderChanged)}}}),
         row(L("模型", "Model"), std::nullopt,
             {makeLabel(stt ? cloudSTTModelID(provider.id) : cloudPolishModelID(provider.id),
                        TextStyle{.monospaced = true})}),
         ControlRowBlock{
             .controls =
                 {Control{fieldId,
                          SecureTextField{.placeholder = stored ? L("输入新 Key 后点替换",
                                                                    "Enter a new key to replace")
                                                                : keyHint(provider),
                                          .onSubmit = [save](const std::string&) { save(); }}},
                  makeButton(stored ? L("替换 Key", "Replace key") : L("保存 Key", "Save key"),
                             save, kKeyButtonWidth),
                  makeButton(L("清除 Key", "Clear key"), clear, kKeyButtonWidth)}},
         note(stored ? L("已保存 " + name + " Key,输入框不回显真实 Key。",
                         name + " key saved; the real key is never shown.")
                     : L("尚未保存 " + name + " Key。", "No " + name + " key saved yet.")),
         note(scopeNote),
         note(L("Key 加密存于系统钥匙环,识别与润色共享同一家的 Key。",
                "Keys are stored in the system keyring and shared between Speech and Polish."))});
}

}  // namespace vurin
