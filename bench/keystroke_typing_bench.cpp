// How long 200 characters take through a Wayland keystroke path's typeText (the typed-text path
// of a session without data-control): from the call to the last character arriving in foot
// running `cat` on a raw terminal, through the virtual keyboard and through the RemoteDesktop
// portal (the real xdg-desktop-portal and the test session's stand-in desktop, which types into
// sway). Run it inside scripts/test-session; the first argument changes the number of rounds
// (10 by default). Prints the figures; never fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "platform/wayland/virtual_keyboard_keystrokes.h"
#include "support/desktop_program.h"
#include "support/keystroke_requests.h"
#include "support/wayland_session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCharacters = 200;

std::uintmax_t sizeOf(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
}

// Waits until the file has grown to `size` bytes; false after 10 s.
bool waitForSize(const std::filesystem::path& file, std::uintmax_t size) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (sizeOf(file) < size) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Mixed text as a dictation has it: letters, accents, CJK, punctuation.
std::string dictation() {
    const std::vector<std::string> pieces = {"Der ",   "Bär ", "läuft ", "schnell, ",
                                             "好的。", "ok ",  "voilà ", "✓ "};
    std::string text;
    int characters = 0;
    for (std::size_t i = 0; characters < kCharacters; ++i) {
        const std::string& piece = pieces[i % pieces.size()];
        for (std::size_t at = 0; at < piece.size() && characters < kCharacters; ++characters) {
            std::size_t length = 1;
            while (at + length < piece.size() && (piece[at + length] & 0xC0) == 0x80) {
                ++length;
            }
            text += piece.substr(at, length);
            at += length;
        }
    }
    return text;
}

void report(const char* name, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-18s no round completed\n", name);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-18s %d characters: median %.1f ms, best %.1f ms, worst %.1f ms (%zu rounds)\n",
                name, kCharacters, ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::optional<vurin::testing::WaylandSession> session = vurin::testing::WaylandSession::join();
    if (!session) {
        return 0;
    }
    setenv("WAYLAND_DISPLAY", session->environment().at("WAYLAND_DISPLAY")->c_str(), 1);
    const auto file = session->sharedFolder() / "typed";
    vurin::testing::DesktopProgram foot({"foot", "--app-id=vurin-bench", "sh", "-c",
                                         "stty raw -echo && exec cat >" + file.string()});
    const auto focused = Clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(file) ||
           !session->swaymsg("[app_id=vurin-bench con_id=__focused__] nop")) {
        if (Clock::now() > focused) {
            std::printf("foot did not get the focus\n");
            return 0;
        }
    }
    const std::string text = dictation();
    std::unique_ptr<vurin::KeystrokeSender> keyboard = vurin::VirtualKeyboardKeystrokes::open();
    auto portal = std::make_unique<vurin::RemoteDesktopKeystrokes>();
    vurin::testing::typeAndWait(*portal, " ");  // the session and its consent come first
    waitForSize(file, 1);
    const std::pair<const char*, vurin::KeystrokeSender*> paths[] = {
        {"virtual keyboard", keyboard.get()}, {"RemoteDesktop", portal.get()}};
    for (const auto& [name, sender] : paths) {
        std::vector<double> ms;
        for (int round = 0; sender && round < rounds; ++round) {
            const std::uintmax_t before = sizeOf(file);
            const auto start = Clock::now();
            if (!vurin::testing::typeAndWait(*sender, text).complete() ||
                !waitForSize(file, before + text.size())) {
                break;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        report(name, ms);
    }
    return 0;
}
