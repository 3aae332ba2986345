#include <gtest/gtest.h>

#include "local_services/local_ollama_server.h"

namespace vurin {
namespace {

TEST(OllamaTags, OnlyAnExactNameInAListOfModelRecordsCounts) {
    const std::string_view model = "qwen2.5:7b";
    EXPECT_TRUE(
        ollamaTagsListModel(R"({"models":[{"name":"llama3:8b"},{"name":"qwen2.5:7b"}]})", model));
    EXPECT_FALSE(ollamaTagsListModel(R"({"models":[{"name":"qwen2.5:7b-instruct-q4"}]})", model));
    EXPECT_FALSE(ollamaTagsListModel(R"({"models":[{"name":"Qwen2.5:7B"}]})", model));
    EXPECT_FALSE(ollamaTagsListModel(R"({"models":[{"model":"qwen2.5:7b"}]})", model));
    EXPECT_FALSE(ollamaTagsListModel(R"({"models":[{"name":["qwen2.5:7b"]}]})", model));
    EXPECT_FALSE(ollamaTagsListModel(R"({"models":[]})", model));
}

TEST(OllamaTags, AnythingButAnObjectWithAModelArrayIsNoModel) {
    const std::string_view model = "qwen2.5:7b";
    for (const char* body : {"", "not json", "[]", "null", R"("qwen2.5:7b")", R"({"models":{}})",
                             R"({"models":"qwen2.5:7b"})", R"({"Models":[{"name":"qwen2.5:7b"}]})",
                             R"({"models":[{"name":"qwen2.5:7b"},"qwen2.5:7b"]})",
                             R"({"models":[{"name":"qwen2.5:7b"})"}) {
        EXPECT_FALSE(ollamaTagsListModel(body, model)) << body;
    }
}

}  // namespace
}  // namespace vurin
