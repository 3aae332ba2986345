#include "support/language.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace vurin {

namespace {

// "zh_TW.UTF-8@radical" -> "zh-TW"; "C" and "POSIX" -> "en".
std::string languageTag(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX") {
        return "en";
    }
    std::string tag(locale);
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

void appendColonList(std::string_view list, std::vector<std::string>& languages) {
    while (!list.empty()) {
        const auto colon = list.find(':');
        const auto entry = list.substr(0, colon);
        if (!entry.empty()) {
            languages.push_back(languageTag(entry));
        }
        list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
    }
}

std::string processEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::atomic<bool>& englishFlag() {
    static std::atomic<bool> flag{systemPrefersEnglish()};
    return flag;
}

std::atomic<float> currentVolume{0.3f};

}  // namespace

bool prefersEnglish(const std::vector<std::string>& preferredLanguages) {
    std::string first = preferredLanguages.empty() ? "en" : preferredLanguages.front();
    std::transform(first.begin(), first.end(), first.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return !first.starts_with("zh");
}

std::vector<std::string> preferredLanguagesFrom(EnvironmentLookup lookup) {
    std::vector<std::string> languages;
    appendColonList(lookup("LANGUAGE"), languages);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const std::string value = lookup(name); !value.empty()) {
            languages.push_back(languageTag(value));
            break;
        }
    }
    return languages;
}

bool systemPrefersEnglish() {
    return prefersEnglish(preferredLanguagesFrom(processEnvironment));
}

void applyUILang(std::string_view lang) {
    const bool english = lang == "zh" ? false : lang == "en" ? true : systemPrefersEnglish();
    englishFlag().store(english);
}

bool uiIsEnglish() {
    return englishFlag().load();
}

std::string L(std::string_view zh, std::string_view en) {
    return std::string(uiIsEnglish() ? en : zh);
}

float soundVolume() {
    return currentVolume.load();
}

void setSoundVolume(float volume) {
    // NaN fails both comparisons of clamp's contract, so it is caught first.
    currentVolume.store(std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f));
}

std::string soundVolumeLabelText(double volume) {
    if (!(volume > 0.0)) {
        return L("静音", "Muted");
    }
    return std::to_string(std::lround(volume * 100.0)) + "%";
}

}  // namespace vurin
