#include "support/runtime_metadata.h"

#include <sys/utsname.h>

#include <cctype>

#include "support/build_info.h"

namespace vurin {

namespace {

// Reads the leading digits of `text` (advancing past them); "0" when there are none.
std::string leadingNumber(std::string_view& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        ++digits;
    }
    std::string number(text.substr(0, digits));
    text.remove_prefix(digits);
    return number.empty() ? "0" : number;
}

std::string kernelRelease() {
    utsname names{};
    return ::uname(&names) == 0 ? names.release : "";
}

}  // namespace

std::string versionTriple(std::string_view release) {
    std::string triple;
    bool more = true;  // stays true while the previous number ended at a "."
    for (int part = 0; part < 3; ++part) {
        std::string number = more ? leadingNumber(release) : "0";
        more = more && !release.empty() && release.front() == '.';
        if (more) {
            release.remove_prefix(1);
        }
        triple += (part == 0 ? "" : ".") + number;
    }
    return triple;
}

RuntimeMetadata makeRuntimeMetadata(std::string_view version, std::string_view build,
                                    std::string_view kernelRelease, std::string architecture) {
    RuntimeMetadata metadata;
    metadata.appVersion = version.empty() ? "dev" : std::string(version);
    metadata.appBuild = build.empty() ? metadata.appVersion : std::string(build);
    metadata.macOSVersion = versionTriple(kernelRelease);
    metadata.architecture = std::move(architecture);
    return metadata;
}

std::string runtimeArchitecture() {
    utsname names{};
    return ::uname(&names) == 0 ? names.machine : "unknown";
}

const RuntimeMetadata& runtimeMetadata() {
    static const RuntimeMetadata metadata = makeRuntimeMetadata(
        VURIN_APP_VERSION, VURIN_APP_BUILD, kernelRelease(), runtimeArchitecture());
    return metadata;
}

}  // namespace vurin
