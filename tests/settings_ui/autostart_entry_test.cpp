#include <gtest/gtest.h>

#include <map>

#include "settings_ui/login_item.h"

namespace vurin {
namespace {

// An autostart entry a build-tree Vurin wrote starts the installed one once that has run; any
// An entry an older Vurin wrote for itself learns that a login start opens no window; any other
// entry stays as the user or another install left it.
TEST(AutostartEntry, OnlyAnEntryForABuildTreeOrAGoneProgramIsTakenOverByAnInstalledVurin) {
    using enum ProgramPlace;
    const std::string usr = "/usr/bin/vurin", build = "/h/build/vurin", gone = "/h/gone/vurin";
    const std::map<std::string, ProgramPlace> places = {
        {usr, installed}, {"/usr/local/bin/vurin", installed}, {build, buildTree}, {gone, missing}};
    auto placeOf = [&](const std::filesystem::path& p) { return places.at(p.string()); };
    const auto entry = [](const std::string& exec) { return autostartDesktopEntry(exec); };
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {entry(build), usr, true},
        {entry(gone), usr, true},
        {entry("/usr/local/bin/vurin"), usr, false},  // another install
        {entry(usr), usr, false},
        {"[Desktop Entry]\nExec=/usr/bin/vurin\n", usr, true},  // an older Vurin's entry
        {"[Desktop Entry]\nExec=/h/build/vurin\nHidden=true\n", build, false},
        {entry(usr), build, false},  // a build never takes an entry over
        {entry(gone), build, false},
        {entry(build) + "Hidden=true\n", usr, false},  // the user turned it off
        {"[Desktop Entry]\nType=Application\n", usr, false},
    };
    for (const auto& [text, running, replaced] : cases) {
        SCOPED_TRACE(text + "running " + running);
        EXPECT_EQ(replacesAutostartEntry(text, running, placeOf), replaced);
    }
    EXPECT_EQ(autostartEntryProgram("Exec=\"/a b/\\\\$x\" --session x11\n"), "/a b/$x");
}

}  // namespace
}  // namespace vurin
