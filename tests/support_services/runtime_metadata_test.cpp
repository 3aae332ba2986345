#include "support/runtime_metadata.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <regex>

namespace vurin {
namespace {

TEST(RuntimeMetadata, KernelReleaseBecomesANumericTriple) {
    EXPECT_EQ(versionTriple("6.1.0-18-amd64"), "6.1.0");
    EXPECT_EQ(versionTriple("6.12.9+bpo-amd64"), "6.12.9");
    EXPECT_EQ(versionTriple("5.15"), "5.15.0");
    EXPECT_EQ(versionTriple("5.15-rc1"), "5.15.0");
    EXPECT_EQ(versionTriple("4"), "4.0.0");
    EXPECT_EQ(versionTriple("4.19.0.7"), "4.19.0");
    EXPECT_EQ(versionTriple(""), "0.0.0");
    EXPECT_EQ(versionTriple("linux"), "0.0.0");
}

TEST(RuntimeMetadata, MissingVersionAndBuildBecomeDev) {
    const auto bare = makeRuntimeMetadata("", "", "6.1.0", "x86_64");
    EXPECT_EQ(bare, (RuntimeMetadata{"dev", "dev", "6.1.0", "x86_64"}));
    EXPECT_EQ(makeRuntimeMetadata("1.4.2", "", "6.1", "aarch64").appBuild, "1.4.2");
    EXPECT_EQ(makeRuntimeMetadata("1.4.2", "77", "6.1", "aarch64").appBuild, "77");
}

TEST(RuntimeMetadata, DescribesThisMachineOnce) {
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    const RuntimeMetadata& metadata = runtimeMetadata();
    EXPECT_EQ(metadata.architecture, names.machine);
    EXPECT_EQ(runtimeArchitecture(), names.machine);
    EXPECT_EQ(metadata.macOSVersion, versionTriple(names.release));
    EXPECT_TRUE(std::regex_match(metadata.macOSVersion, std::regex(R"(\d+\.\d+\.\d+)")));
    EXPECT_FALSE(metadata.appVersion.empty());
    EXPECT_FALSE(metadata.appBuild.empty());
    EXPECT_EQ(&runtimeMetadata(), &metadata);
}

}  // namespace
}  // namespace vurin
