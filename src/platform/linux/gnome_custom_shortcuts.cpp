#include "platform/linux/gnome_custom_shortcuts.h"

#include <gio/gio.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "support/log.h"

namespace vurin {

namespace {

constexpr const char* kListSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kListKey = "custom-keybindings";
constexpr const char* kEntrySchema =
    "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* kEntryFolder =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
constexpr const char* kEntryKeys[] = {"name", "command", "binding"};

std::string entryPath(const std::string& id) {
    return std::string(kEntryFolder) + id + "/";
}

// The id of a listed path: its last element.
std::string idOf(const std::string& path) {
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    return trimmed.substr(trimmed.rfind('/') + 1);
}

// Ids become part of a settings path: letters, digits and dashes only.
bool validId(const std::string& id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-';
    });
}

std::vector<std::string> listedPaths(GSettings* settings) {
    gchar** paths = g_settings_get_strv(settings, kListKey);
    std::vector<std::string> listed;
    for (gchar** path = paths; path && *path; ++path) {
        listed.emplace_back(*path);
    }
    g_strfreev(paths);
    return listed;
}

bool storeList(GSettings* settings, const std::vector<std::string>& paths) {
    std::vector<const gchar*> raw;
    for (const std::string& path : paths) {
        raw.push_back(path.c_str());
    }
    raw.push_back(nullptr);
    return g_settings_set_strv(settings, kListKey, raw.data());
}

// The accelerators a key of GNOME's own media keys binds (a string or a list of them).
std::vector<std::string> accelerators(GVariant* value) {
    std::vector<std::string> found;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        found.emplace_back(g_variant_get_string(value, nullptr));
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** items = g_variant_get_strv(value, &count);
        found.assign(items, items + count);
        g_free(items);
    }
    return found;
}

bool binds(GVariant* value, const std::string& binding) {
    const std::vector<std::string> found = accelerators(value);
    return std::find(found.begin(), found.end(), binding) != found.end();
}

std::string text(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string result = value ? value : "";
    g_free(value);
    return result;
}

}  // namespace

struct GnomeCustomShortcuts::Impl {
    GSettings* list = nullptr;
    GSettingsSchema* entrySchema = nullptr;

    ~Impl() {
        if (list) {
            g_object_unref(list);
        }
        if (entrySchema) {
            g_settings_schema_unref(entrySchema);
        }
    }

    GSettings* entry(const std::string& path) const {
        GSettingsBackend* backend = nullptr;
        g_object_get(list, "backend", &backend, nullptr);
        GSettings* settings = g_settings_new_full(entrySchema, backend, path.c_str());
        if (backend) {
            g_object_unref(backend);
        }
        return settings;
    }
};

std::shared_ptr<GnomeCustomShortcuts> GnomeCustomShortcuts::open(std::string* why) {
    const auto refuse = [why](const char* reason) {
        if (why) {
            *why = reason;
        }
        return nullptr;
    };
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* listSchema =
        source ? g_settings_schema_source_lookup(source, kListSchema, TRUE) : nullptr;
    GSettingsSchema* entrySchema =
        source ? g_settings_schema_source_lookup(source, kEntrySchema, TRUE) : nullptr;
    if (!listSchema || !entrySchema) {
        if (listSchema) {
            g_settings_schema_unref(listSchema);
        }
        if (entrySchema) {
            g_settings_schema_unref(entrySchema);
        }
        return refuse("没有 GNOME 设置守护进程的快捷键设置(org.gnome.settings-daemon)");
    }
    auto impl = std::make_unique<Impl>();
    impl->entrySchema = entrySchema;
    impl->list = g_settings_new_full(listSchema, nullptr, nullptr);
    g_settings_schema_unref(listSchema);
    // Without dconf GSettings falls back to memory: what Vurin wrote would reach nobody.
    GSettingsBackend* backend = nullptr;
    g_object_get(impl->list, "backend", &backend, nullptr);
    const bool inMemory =
        backend && std::string(G_OBJECT_TYPE_NAME(backend)) == "GMemorySettingsBackend";
    if (backend) {
        g_object_unref(backend);
    }
    if (inMemory) {
        return refuse("GSettings 没有 dconf,设置不会保存");
    }
    return std::shared_ptr<GnomeCustomShortcuts>(new GnomeCustomShortcuts(std::move(impl)));
}

GnomeCustomShortcuts::GnomeCustomShortcuts(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

GnomeCustomShortcuts::~GnomeCustomShortcuts() = default;

std::vector<CustomShortcut> GnomeCustomShortcuts::list() {
    std::vector<CustomShortcut> shortcuts;
    for (const std::string& path : listedPaths(impl_->list)) {
        GSettings* entry = impl_->entry(path);
        shortcuts.push_back({.id = idOf(path),
                             .name = text(entry, "name"),
                             .command = text(entry, "command"),
                             .binding = text(entry, "binding")});
        g_object_unref(entry);
    }
    return shortcuts;
}

bool GnomeCustomShortcuts::put(const CustomShortcut& shortcut) {
    if (!validId(shortcut.id)) {
        log("❌ GNOME 快捷键:条目名 " + shortcut.id + " 不能用作设置路径");
        return false;
    }
    const std::string path = entryPath(shortcut.id);
    GSettings* entry = impl_->entry(path);
    const bool stored = g_settings_set_string(entry, "name", shortcut.name.c_str()) &&
                        g_settings_set_string(entry, "command", shortcut.command.c_str()) &&
                        g_settings_set_string(entry, "binding", shortcut.binding.c_str());
    g_object_unref(entry);
    std::vector<std::string> paths = listedPaths(impl_->list);
    const bool listed = std::find(paths.begin(), paths.end(), path) != paths.end();
    if (!listed) {
        paths.push_back(path);
    }
    if (!stored || (!listed && !storeList(impl_->list, paths))) {
        log("❌ GNOME 快捷键:无法写入 " + path + "(设置只读?)");
        return false;
    }
    return true;
}

bool GnomeCustomShortcuts::remove(const std::string& id) {
    if (!validId(id)) {
        return false;
    }
    const std::string path = entryPath(id);
    std::vector<std::string> paths = listedPaths(impl_->list);
    const auto kept = std::remove(paths.begin(), paths.end(), path);
    const bool listed = kept != paths.end();
    paths.erase(kept, paths.end());
    if (listed && !storeList(impl_->list, paths)) {
        log("❌ GNOME 快捷键:无法从列表中移除 " + path);
        return false;
    }
    GSettings* entry = impl_->entry(path);
    for (const char* key : kEntryKeys) {
        g_settings_reset(entry, key);
    }
    g_object_unref(entry);
    return true;
}

std::vector<std::string> GnomeCustomShortcuts::builtInUses(const std::string& binding) {
    std::vector<std::string> uses;
    GSettingsSchema* schema = nullptr;
    g_object_get(impl_->list, "settings-schema", &schema, nullptr);
    gchar** keys = schema ? g_settings_schema_list_keys(schema) : nullptr;
    for (gchar** key = keys; key && *key; ++key) {
        GVariant* value = g_settings_get_value(impl_->list, *key);
        if (std::string(*key) != kListKey && binds(value, binding)) {
            uses.emplace_back(*key);
        }
        g_variant_unref(value);
    }
    g_strfreev(keys);
    if (schema) {
        g_settings_schema_unref(schema);
    }
    return uses;
}

std::vector<std::string> GnomeCustomShortcuts::releasedBuiltIns(const std::string& binding) {
    std::vector<std::string> released;
    GSettingsSchema* schema = nullptr;
    g_object_get(impl_->list, "settings-schema", &schema, nullptr);
    gchar** keys = schema ? g_settings_schema_list_keys(schema) : nullptr;
    for (gchar** key = keys; key && *key; ++key) {
        GVariant* fallback = g_settings_get_default_value(impl_->list, *key);
        GVariant* value = g_settings_get_value(impl_->list, *key);
        if (fallback && binds(fallback, binding) && !binds(value, binding)) {
            released.emplace_back(*key);
        }
        if (fallback) {
            g_variant_unref(fallback);
        }
        g_variant_unref(value);
    }
    g_strfreev(keys);
    if (schema) {
        g_settings_schema_unref(schema);
    }
    return released;
}

bool GnomeCustomShortcuts::releaseBuiltIn(const std::string& setting, const std::string& binding) {
    GVariant* value = g_settings_get_value(impl_->list, setting.c_str());
    bool stored = false;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        std::vector<std::string> kept = accelerators(value);
        std::erase(kept, binding);
        std::vector<const gchar*> raw;
        for (const std::string& item : kept) {
            raw.push_back(item.c_str());
        }
        raw.push_back(nullptr);
        stored = g_settings_set_strv(impl_->list, setting.c_str(), raw.data());
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        stored = g_settings_set_string(impl_->list, setting.c_str(), "");
    }
    g_variant_unref(value);
    if (!stored) {
        log("❌ GNOME 快捷键:无法让出 " + setting + " 里的 " + binding);
    }
    return stored;
}

bool GnomeCustomShortcuts::restoreBuiltIn(const std::string& setting) {
    g_settings_reset(impl_->list, setting.c_str());
    return true;
}

}  // namespace vurin
