#include "settings_ui/update_checker.h"

#include <gtest/gtest.h>

namespace vurin::testing {
namespace {

TEST(CompareVersions, NumericComponentByComponentMissingOnesZero) {
    using std::strong_ordering;
    const struct {
        const char* a;
        const char* b;
        strong_ordering order;
    } cases[] = {
        {"1.2", "1.2.0", strong_ordering::equal},
        {"1.9", "1.10", strong_ordering::less},
        {"2.0", "1.99.99", strong_ordering::greater},
        {"1..2", "1.2", strong_ordering::equal},
        {"2-beta", "2", strong_ordering::equal},
        {"1.beta", "1.0", strong_ordering::equal},
        {"dev", "0.0.1", strong_ordering::less},
        {"dev", "0", strong_ordering::equal},
        {"", "", strong_ordering::equal},
        {"1.0.1", "1.0", strong_ordering::greater},
        // Too large for 64 bits, digits of another script or a sign: 0.
        {"99999999999999999999", "0", strong_ordering::equal},
        {"9223372036854775807", "9223372036854775806", strong_ordering::greater},
        {"١٢", "0", strong_ordering::equal},
        {"1²", "0", strong_ordering::equal},
        {"-3", "0", strong_ordering::equal},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    }
}

TEST(UpdateManifest, ATrimmedStringVersionAndAnyNonEmptyUrlElseTheFallback) {
    const auto parsed = [](const char* body, const char* current) {
        return parseUpdateManifest(body, current, "https://h/");
    };
    EXPECT_EQ(parsed(R"({"version":" 1.3\n","extra":1})", "1.2"),
              UpdateCheckResult(UpdateInfo{
                  .latest = "1.3", .current = "1.2", .url = "https://h/", .isNewer = true}));
    EXPECT_EQ(
        parsed(R"({"version":"1.2.0","url":""})", "1.2"),
        UpdateCheckResult(UpdateInfo{.latest = "1.2.0", .current = "1.2", .url = "https://h/"}));
    // The address is not checked here: only a web address is ever opened.
    EXPECT_EQ(parsed(R"({"version":"2","url":"file:///x"})", "dev"),
              UpdateCheckResult(UpdateInfo{
                  .latest = "2", .current = "dev", .url = "file:///x", .isNewer = true}));
    for (const char* body :
         {"", "not json", "[]", "{}", R"({"version":1.3})", R"({"version":"  \n"})",
          R"({"url":"https://h/"})", R"("1.3")", R"({"version":null})"}) {
        EXPECT_EQ(parsed(body, "1.0"), UpdateCheckResult(UpdateCheckError::parse)) << body;
    }
}

}  // namespace
}  // namespace vurin::testing
