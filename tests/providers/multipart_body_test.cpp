#include "providers/multipart_body.h"

#include <gtest/gtest.h>

#include <string>

namespace vurin {
namespace {

using namespace std::string_literals;

TEST(MultipartBodyTest, FieldsInOrderThenTheFilePartThenTheClosingDelimiter) {
    const std::string body = multipartBody("B-1", "RIFF\0\r\n--B-1\xff"s, "audio.wav", "audio/wav",
                                           {{"model", "whisper-large-v3"}, {"language", "zh"}});

    const std::string expected =
        "--B-1\r\n"
        "Content-Disposition: form-data; name=\"model\"\r\n\r\n"
        "whisper-large-v3\r\n"
        "--B-1\r\n"
        "Content-Disposition: form-data; name=\"language\"\r\n\r\n"
        "zh\r\n"
        "--B-1\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
        "Content-Type: audio/wav\r\n\r\n"
        "RIFF\0\r\n--B-1\xff"
        "\r\n--B-1--\r\n"s;
    EXPECT_EQ(body, expected);
}

TEST(MultipartBodyTest, NoFieldsGivesOnlyTheFilePartAndTextIsNotEscaped) {
    const std::string body =
        multipartBody("X", "", "a \"b\".wav", "audio/wav", {{"prompt", "以下是\"词\"\r\n"}});

    EXPECT_EQ(body,
              "--X\r\nContent-Disposition: form-data; name=\"prompt\"\r\n\r\n以下是\"词\"\r\n\r\n"
              "--X\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a \"b\".wav\"\r\n"
              "Content-Type: audio/wav\r\n\r\n"
              "\r\n--X--\r\n");
    EXPECT_EQ(multipartBody("X", "pcm", "f", "t", {}),
              "--X\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f\"\r\n"
              "Content-Type: t\r\n\r\npcm\r\n--X--\r\n");
}

}  // namespace
}  // namespace vurin
