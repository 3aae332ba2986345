#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace vurin {

// The folders searched for the local servers, in order: /usr/local/bin, /usr/bin, then
// ~/.local/bin (where a per-user install puts them).
std::vector<std::filesystem::path> localExecutableFolders();

// The first `folder/name` that is an executable regular file; nothing when none is.
std::optional<std::filesystem::path> findExecutableIn(
    const std::vector<std::filesystem::path>& folders, std::string_view name);

std::optional<std::filesystem::path> findWhisperServerBin();
std::optional<std::filesystem::path> findOllamaBin();

// ~/.ollama/models/manifests, where ollama records the models it has pulled.
std::filesystem::path ollamaManifestDirectory();

// Whether `model` ("qwen2.5:7b") has a manifest below `manifests`: some entry, at any depth,
// whose lower-cased path ends in "/qwen2.5/7b". No server needs to run. A folder that cannot
// be listed is passed over; a manifest directory that cannot be listed gives false.
bool localOllamaModelInstalled(std::string_view model, const std::filesystem::path& manifests);
bool localOllamaModelInstalled(std::string_view model);

}  // namespace vurin
