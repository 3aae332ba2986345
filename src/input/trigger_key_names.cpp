#include "input/trigger_key_names.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <string_view>
#include <utility>

#include "input/key_code_map.h"
#include "support/language.h"

namespace vurin {

namespace {

struct KeyName {
    std::int64_t keyCode;
    std::string_view name;
};

// The same text in both interface languages. Sorted by key code.
constexpr auto keyNames = std::to_array<KeyName>({
    {0, "A"},
    {1, "S"},
    {2, "D"},
    {3, "F"},
    {4, "H"},
    {5, "G"},
    {6, "Z"},
    {7, "X"},
    {8, "C"},
    {9, "V"},
    {11, "B"},
    {12, "Q"},
    {13, "W"},
    {14, "E"},
    {15, "R"},
    {16, "Y"},
    {17, "T"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {22, "6"},
    {23, "5"},
    {24, "="},
    {25, "9"},
    {26, "7"},
    {27, "-"},
    {28, "8"},
    {29, "0"},
    {30, "]"},
    {31, "O"},
    {32, "U"},
    {33, "["},
    {34, "I"},
    {35, "P"},
    {36, "Return"},
    {37, "L"},
    {38, "J"},
    {39, "'"},
    {40, "K"},
    {41, ";"},
    {42, "\\"},
    {43, ","},
    {44, "/"},
    {45, "N"},
    {46, "M"},
    {47, "."},
    {48, "Tab"},
    {49, "Space"},
    {50, "`"},
    {51, "Delete"},
    {53, "Escape"},
    {57, "Caps Lock"},
    {64, "F17"},
    {79, "F18"},
    {80, "F19"},
    {90, "F20"},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {99, "F3"},
    {100, "F8"},
    {101, "F9"},
    {103, "F11"},
    {105, "F13"},
    {106, "F16"},
    {107, "F14"},
    {109, "F10"},
    {111, "F12"},
    {113, "F15"},
    {115, "Home"},
    {116, "Page Up"},
    {117, "Forward Delete"},
    {118, "F4"},
    {119, "End"},
    {120, "F2"},
    {121, "Page Down"},
    {122, "F1"},
    {123, "←"},
    {124, "→"},
    {125, "↓"},
    {126, "↑"},
});
static_assert(keyNames.size() == 82);
static_assert(std::is_sorted(keyNames.begin(), keyNames.end(),
                             [](auto a, auto b) { return a.keyCode < b.keyCode; }));

std::optional<std::string> modifierName(std::int64_t keyCode) {
    switch (keyCode) {
        case 54:
            return L("右 Command", "Right Command");
        case 55:
            return L("左 Command", "Left Command");
        case 56:
            return L("左 Shift", "Left Shift");
        case 58:
            return L("左 Option", "Left Option");
        case 59:
            return L("左 Control", "Left Control");
        case 60:
            return L("右 Shift", "Right Shift");
        case 61:
            return L("右 Option", "Right Option");
        case 62:
            return L("右 Control", "Right Control");
        case 63:
            return std::string("Fn");
        default:
            return std::nullopt;
    }
}

std::optional<std::string> tableName(std::int64_t keyCode) {
    auto found = std::lower_bound(
        keyNames.begin(), keyNames.end(), keyCode,
        [](const KeyName& entry, std::int64_t code) { return entry.keyCode < code; });
    if (found == keyNames.end() || found->keyCode != keyCode) {
        return std::nullopt;
    }
    return std::string(found->name);
}

std::mutex lookupLock;
EvdevKeyNameLookup evdevLookup;

std::optional<std::string> linuxOnlyName(std::int64_t keyCode) {
    if (keyCode <= linuxOnlyKeyCodeBase) {
        return std::nullopt;
    }
    const std::optional<int> evdev = evdevCodeForKeyCode(keyCode);
    EvdevKeyNameLookup lookup;
    {
        std::lock_guard guard(lookupLock);
        lookup = evdevLookup;
    }
    if (!evdev || !lookup) {
        return std::nullopt;
    }
    std::optional<std::string> name = lookup(*evdev);
    if (name && name->empty()) {
        return std::nullopt;
    }
    return name;
}

}  // namespace

void setEvdevKeyNameLookup(EvdevKeyNameLookup lookup) {
    std::lock_guard guard(lookupLock);
    evdevLookup = std::move(lookup);
}

std::string triggerKeyDisplayName(std::int64_t keyCode) {
    if (auto name = modifierName(keyCode)) {
        return *name;
    }
    if (auto name = tableName(keyCode)) {
        return *name;
    }
    if (auto name = linuxOnlyName(keyCode)) {
        return *name;
    }
    const std::string number = std::to_string(keyCode);
    return L("键码 " + number, "Key code " + number);
}

std::string triggerKeyLabelText(std::int64_t keyCode) {
    const std::string name = triggerKeyDisplayName(keyCode);
    const std::string number = std::to_string(keyCode);
    return L("当前:" + name + " (键码 " + number + ")",
             "Current: " + name + " (key code " + number + ")");
}

}  // namespace vurin
