#pragma once

#include <string>
#include <string_view>

namespace vurin {

// Facts about the running program that go into every history line and the support mail.
struct RuntimeMetadata {
    std::string appVersion;
    std::string appBuild;
    std::string macOSVersion;  // the operating system's version: the kernel release on Linux
    std::string architecture;

    bool operator==(const RuntimeMetadata&) const = default;
};

// Computed on first use, thread-safely, and never recomputed.
const RuntimeMetadata& runtimeMetadata();

// The machine's processor architecture as the kernel names it, e.g. "x86_64" or "aarch64".
std::string runtimeArchitecture();

// Assembles the record: an empty version becomes "dev", an empty build takes the version, and
// the kernel release ("6.1.0-18-amd64") is reduced to its numeric triple.
RuntimeMetadata makeRuntimeMetadata(std::string_view version, std::string_view build,
                                    std::string_view kernelRelease, std::string architecture);

// "6.1.0-18-amd64" -> "6.1.0", "5.15" -> "5.15.0", "" -> "0.0.0": the first three dot-separated
// numbers, each read up to its first non-digit, missing ones as 0.
std::string versionTriple(std::string_view release);

}  // namespace vurin
