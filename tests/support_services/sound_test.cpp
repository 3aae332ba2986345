#include "support/sound.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "support/language.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

class RecordingSoundOutput : public SoundOutput {
  public:
    bool play(const std::string& soundName, float volume) override {
        played.emplace_back(soundName, volume);
        return true;
    }
    std::vector<std::pair<std::string, float>> played;
};

using Played = std::vector<std::pair<std::string, float>>;

class PlaySound : public ::testing::Test {
  protected:
    void SetUp() override {
        setSoundVolume(0.3f);
        installSoundOutput(output_, queue_);
    }
    void TearDown() override {
        installSoundOutput(nullptr, nullptr);
        setSoundVolume(0.3f);
    }
    static void fromBackground(const std::string& name) {
        std::thread([name] { playSound(name); }).join();
    }

    std::shared_ptr<RecordingSoundOutput> output_ = std::make_shared<RecordingSoundOutput>();
    std::shared_ptr<testing::VirtualMainQueue> queue_ =
        std::make_shared<testing::VirtualMainQueue>();
};

TEST_F(PlaySound, OnTheMainThreadPlaysAtOnceAtTheCurrentVolume) {
    playSound("Pop");
    setSoundVolume(0.6f);
    playSound("Glass");
    EXPECT_EQ(output_->played, (Played{{"Pop", 0.3f}, {"Glass", 0.6f}}));
    EXPECT_EQ(queue_->pendingCount(), 0u);
}

TEST_F(PlaySound, MutedVolumeDoesNothingAtAll) {
    setSoundVolume(0.0f);
    playSound("Pop");
    fromBackground("Basso");
    EXPECT_EQ(queue_->pendingCount(), 0u);
    queue_->runPending();
    EXPECT_TRUE(output_->played.empty());
}

TEST_F(PlaySound, BackgroundRequestPlaysOnMainAtTheVolumeOfTheRequest) {
    setSoundVolume(0.5f);
    fromBackground("Glass");
    EXPECT_TRUE(output_->played.empty());
    EXPECT_EQ(queue_->pendingCount(), 1u);
    setSoundVolume(0.9f);
    queue_->runPending();
    EXPECT_EQ(output_->played, (Played{{"Glass", 0.5f}}));
}

TEST_F(PlaySound, BackgroundRequestsKeepTheirOrder) {
    fromBackground("Pop");
    fromBackground("Bottle");
    fromBackground("Tink");
    queue_->runPending();
    EXPECT_EQ(output_->played, (Played{{"Pop", 0.3f}, {"Bottle", 0.3f}, {"Tink", 0.3f}}));
}

TEST_F(PlaySound, NothingPlaysWithoutAnOutput) {
    installSoundOutput(nullptr, queue_);
    playSound("Pop");
    fromBackground("Pop");
    EXPECT_EQ(queue_->pendingCount(), 0u);
    EXPECT_TRUE(output_->played.empty());
}

TEST_F(PlaySound, OutputRemovedBeforeThePostedCuePlaysNothing) {
    fromBackground("Pop");
    installSoundOutput(nullptr, queue_);
    queue_->runPending();
    EXPECT_TRUE(output_->played.empty());
}

TEST_F(PlaySound, QueueIsNotKeptAlive) {
    std::weak_ptr<testing::VirtualMainQueue> weakQueue = queue_;
    queue_.reset();
    EXPECT_TRUE(weakQueue.expired());
    playSound("Pop");
    fromBackground("Pop");
    EXPECT_TRUE(output_->played.empty());
}

}  // namespace
}  // namespace vurin
