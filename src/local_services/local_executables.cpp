#include "local_services/local_executables.h"

#include <unistd.h>

#include <string>
#include <system_error>

#include "config/config.h"

namespace vurin {

namespace {

std::string asciiLowercase(std::string text) {
    for (char& character : text) {
        if (character >= 'A' && character <= 'Z') {
            character = static_cast<char>(character - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

std::vector<std::filesystem::path> localExecutableFolders() {
    return {"/usr/local/bin", "/usr/bin", std::filesystem::path(homeDirectory()) / ".local/bin"};
}

std::optional<std::filesystem::path> findExecutableIn(
    const std::vector<std::filesystem::path>& folders, std::string_view name) {
    for (const auto& folder : folders) {
        const auto candidate = folder / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> findWhisperServerBin() {
    return findExecutableIn(localExecutableFolders(), "whisper-server");
}

std::optional<std::filesystem::path> findOllamaBin() {
    return findExecutableIn(localExecutableFolders(), "ollama");
}

std::filesystem::path ollamaManifestDirectory() {
    return std::filesystem::path(homeDirectory()) / ".ollama/models/manifests";
}

bool localOllamaModelInstalled(std::string_view model, const std::filesystem::path& manifests) {
    std::string suffix = "/" + asciiLowercase(std::string(model));
    for (char& character : suffix) {
        if (character == ':') {
            character = '/';
        }
    }
    std::error_code error;
    std::filesystem::recursive_directory_iterator entry(
        manifests, std::filesystem::directory_options::skip_permission_denied, error);
    if (error) {
        return false;
    }
    for (const std::filesystem::recursive_directory_iterator end; entry != end;
         entry.increment(error)) {
        if (error) {
            return false;  // the listing broke off: what was not seen cannot count
        }
        if (asciiLowercase(entry->path().string()).ends_with(suffix)) {
            return true;
        }
    }
    return false;
}

bool localOllamaModelInstalled(std::string_view model) {
    return localOllamaModelInstalled(model, ollamaManifestDirectory());
}

}  // namespace vurin
