#include "support/sound.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/app_fakes.h"
#include "support/language.h"
#include "support/virtual_main_queue.h"

namespace vurin {
namespace {

using Names = std::vector<std::string>;

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

    std::shared_ptr<testing::FakeSoundOutput> output_ =
        std::make_shared<testing::FakeSoundOutput>();
    std::shared_ptr<testing::VirtualMainQueue> queue_ =
        std::make_shared<testing::VirtualMainQueue>();
};

TEST_F(PlaySound, MainThreadPlaysAtOnceAndBackgroundPostsInOrderAtTheRequestsVolume) {
    playSound("Pop");
    EXPECT_EQ(queue_->pendingCount(), 0u);
    setSoundVolume(0.5f);
    fromBackground("Glass");
    fromBackground("Tink");
    EXPECT_EQ(output_->played, Names{"Pop"});
    EXPECT_EQ(queue_->pendingCount(), 2u);
    setSoundVolume(0.9f);
    queue_->runPending();
    EXPECT_EQ(output_->played, (Names{"Pop", "Glass", "Tink"}));
    EXPECT_EQ(output_->volumes, (std::vector<float>{0.3f, 0.5f, 0.5f}));
}

TEST_F(PlaySound, NothingPlaysMutedWithoutAnOutputOrAQueue) {
    const std::vector<std::function<void()>> silencers = {
        [] { setSoundVolume(0.0f); }, [this] { installSoundOutput(nullptr, queue_); },
        [this] { queue_.reset(); },  // the queue is held weakly, as the application owns it
    };
    for (const auto& silence : silencers) {
        installSoundOutput(output_, queue_);
        setSoundVolume(0.3f);
        silence();
        playSound("Pop");
        fromBackground("Basso");
        if (queue_) {
            EXPECT_EQ(queue_->pendingCount(), 0u);
        }
    }
    EXPECT_TRUE(output_->played.empty());
}

TEST_F(PlaySound, OutputRemovedBeforeAPostedCuePlaysNothing) {
    fromBackground("Pop");
    installSoundOutput(nullptr, queue_);
    queue_->runPending();
    EXPECT_TRUE(output_->played.empty());
}

}  // namespace
}  // namespace vurin
