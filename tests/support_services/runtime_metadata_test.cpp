#include "support/runtime_metadata.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

namespace vurin {
namespace {

TEST(RuntimeMetadata, KernelReleaseBecomesANumericTriple) {
    const std::pair<const char*, const char*> cases[] = {{"6.1.0-18-amd64", "6.1.0"},
                                                         {"6.12.9+bpo-amd64", "6.12.9"},
                                                         {"5.15", "5.15.0"},
                                                         {"5.15-rc1", "5.15.0"},
                                                         {"4", "4.0.0"},
                                                         {"4.19.0.7", "4.19.0"},
                                                         {"", "0.0.0"},
                                                         {"linux", "0.0.0"}};
    for (const auto& [release, triple] : cases) {
        EXPECT_EQ(versionTriple(release), triple) << release;
    }
}

TEST(RuntimeMetadata, MissingVersionAndBuildBecomeDev) {
    EXPECT_EQ(makeRuntimeMetadata("", "", "6.1.0-18-amd64", "x86_64"),
              (RuntimeMetadata{"dev", "dev", "6.1.0", "x86_64"}));
    EXPECT_EQ(makeRuntimeMetadata("1.4.2", "", "6.1", "aarch64").appBuild, "1.4.2");
    EXPECT_EQ(makeRuntimeMetadata("1.4.2", "77", "6.1", "aarch64").appBuild, "77");
}

TEST(RuntimeMetadata, DescribesThisMachine) {
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    const RuntimeMetadata& metadata = runtimeMetadata();
    EXPECT_EQ(metadata.architecture, names.machine);
    EXPECT_EQ(runtimeArchitecture(), names.machine);
    EXPECT_EQ(metadata.macOSVersion, versionTriple(names.release));
    EXPECT_FALSE(metadata.appVersion.empty());
    EXPECT_FALSE(metadata.appBuild.empty());
}

}  // namespace
}  // namespace vurin
