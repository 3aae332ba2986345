#include <gtest/gtest.h>

#include "local_services/local_ollama_server.h"

namespace vurin {
namespace {

TEST(OllamaTags, OnlyAnObjectWithAnArrayOfModelRecordsNamingTheModelExactlyCounts) {
    for (const auto& [body, listed] : std::vector<std::pair<std::string, bool>>{
             {R"({"models":[{"name":"llama3:8b"},{"name":"qwen2.5:7b"}]})", true},
             {R"({"models":[{"name":"qwen2.5:7b-instruct"},{"name":"Qwen2.5:7B"}]})", false},
             {R"({"models":[{"model":"qwen2.5:7b"}]})", false},
             {R"({"models":[{"name":["qwen2.5:7b"]}]})", false},
             {"not json", false},
             {R"({"models":{}})", false},
             {R"({"Models":[{"name":"qwen2.5:7b"}]})", false},
             {R"({"models":[{"name":"qwen2.5:7b"},"qwen2.5:7b"]})", false}}) {
        EXPECT_EQ(ollamaTagsListModel(body, "qwen2.5:7b"), listed) << body;
    }
}

}  // namespace
}  // namespace vurin
