#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vurin {

// Chinese when the first preferred language is any Chinese variant ("zh", "zh-Hant-TW",
// "zh_CN.UTF-8"), English for everything else, an empty list included.
bool prefersEnglish(const std::vector<std::string>& preferredLanguages);

// The user's preferred languages, most preferred first, from a variable lookup: the entries of
// LANGUAGE (a colon list), then the first set one of LC_ALL, LC_MESSAGES and LANG. "C" and
// "POSIX" locales count as English ("en").
using EnvironmentLookup = std::function<std::string(const char* name)>;
std::vector<std::string> preferredLanguagesFrom(EnvironmentLookup lookup);

// prefersEnglish() of this process's preferred languages.
bool systemPrefersEnglish();

// Sets the interface language from a `Config.uiLang` value: "zh" Chinese, "en" English,
// anything else ("auto") follows the system as it is now.
void applyUILang(std::string_view lang);

// Whether user-visible texts are English. Initialised from the system on first use; readable
// from any thread.
bool uiIsEnglish();

// The text for the current interface language, chosen at the moment the text is built.
std::string L(std::string_view zh, std::string_view en);

// The cue volume, 0.0 (muted) ... 1.0; 0.3 until set. Readable and settable from any thread.
float soundVolume();
void setSoundVolume(float volume);

// The label beside the volume slider: "静音" / "Muted" at zero, else the rounded percentage.
std::string soundVolumeLabelText(double volume);

}  // namespace vurin
