#include "pipeline/polish_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

namespace vurin {
namespace {

using Json = nlohmann::json;

std::vector<Json> corpus() {
    std::ifstream file(VURIN_TEST_DATA_DIR "/polish_guard/corpus.jsonl");
    std::vector<Json> rows;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty()) {
            rows.push_back(Json::parse(line));
        }
    }
    return rows;
}

std::string shown(const PolishVerdict& verdict) {
    const PolishMeasures& m = verdict.measures;
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "from transcript %.2f, kept %.2f, length %.2f, CJK %.2f -> %.2f, repeats %d",
                  m.fromTranscript, m.kept, m.lengthRatio, m.cjkShareTranscript, m.cjkShareResult,
                  m.repeats);
    return (verdict.rejection ? std::string(polishRejectionName(*verdict.rejection)) : "passed") +
           " (" + figures + ")";
}

// Each row is a transcript and what a model made of it. A good polish is pasted as it is; a
// wrapped one ("clean": what is inside the wrapper) is pasted without the wrapper; any other bad
// result must not be pasted. Every good one must pass; a guard that lets a few odd bad ones
// through is still worth having, one that rejects a good polish is not.
TEST(PolishGuardTest, CorpusOfGoodAndBadPolishes) {
    const std::vector<Json> rows = corpus();
    int good = 0, goodRejected = 0, bad = 0, badCaught = 0;
    for (const Json& row : rows) {
        const std::string transcript = row["transcript"], result = row["result"];
        SCOPED_TRACE(row["kind"].get<std::string>() + ": " + transcript + " => " + result);
        const PolishVerdict verdict = guardPolish(transcript, result);
        if (row["good"]) {
            ++good;
            goodRejected += verdict.text == result ? 0 : 1;
            EXPECT_EQ(verdict.text, result) << shown(verdict);
        } else if (row.contains("clean")) {
            ++bad;
            badCaught += verdict.text == row["clean"].get<std::string>() ? 1 : 0;
            EXPECT_EQ(verdict.text, row["clean"].get<std::string>()) << shown(verdict);
        } else {
            ++bad;
            badCaught += verdict.rejection ? 1 : 0;
            if (!verdict.rejection) {
                std::printf("bad result passed: %s => %s, %s\n", transcript.c_str(), result.c_str(),
                            shown(verdict).c_str());
            }
        }
    }
    std::printf(
        "polish guard corpus: %d of %d good polishes rejected, %d of %d bad caught (%.1f%%)\n",
        goodRejected, good, badCaught, bad, 100.0 * badCaught / std::max(bad, 1));
    EXPECT_GE(good, 40);
    EXPECT_GE(bad, 40);
    EXPECT_GE(badCaught * 100, bad * 95);
}

}  // namespace
}  // namespace vurin
