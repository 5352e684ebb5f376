// The main job as a user runs it: camhost's demo without a display plays the simulated camera,
// writes its screenshot and prints its statistics.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace {

struct CommandResult
{
    int status = -1;
    std::string out;
};

CommandResult RunCommand(const std::string& command)
{
    CommandResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 512> buf;
    while (std::fgets(buf.data(), int(buf.size()), pipe))
        r.out += buf.data();
    r.status = ::pclose(pipe);
    return r;
}

} // namespace

TEST(Camhost, DemoWithoutADisplayPlaysAndReports)
{
    const auto shot = std::filesystem::temp_directory_path() /
                      ("camhost-test-" + std::to_string(::getpid()) + ".png");
    CommandResult r = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(CAMHOST_PROGRAM) +
                       " --demo --seconds 3 --screenshot " + shot.string() + " 2>/dev/null");
    ASSERT_TRUE(WIFEXITED(r.status)) << r.out;
    EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.out;
    auto number = [&](const std::string& key) {
        const size_t at = r.out.find("\"" + key + "\":");
        return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + key.size() + 3);
    };
    ASSERT_NE(r.out.find("{\"painted\":"), std::string::npos) << r.out;
    EXPECT_GT(number("painted"), 0);
    EXPECT_EQ(number("decodeFailures"), 0);
    EXPECT_GT(std::filesystem::file_size(shot), 1000u);
    std::filesystem::remove(shot);
}

TEST(Camhost, ZoneDemoShowsLiveVideoWithTheCamerasZones)
{
    const auto shot = std::filesystem::temp_directory_path() /
                      ("camhost-zone-test-" + std::to_string(::getpid()) + ".png");
    CommandResult r = RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(CAMHOST_PROGRAM) +
                                 " --demo mozon --seconds 3 --screenshot " + shot.string() +
                                 " 2>/dev/null");
    ASSERT_TRUE(WIFEXITED(r.status)) << r.out;
    EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.out;
    auto number = [&](const std::string& key) {
        const size_t at = r.out.find("\"" + key + "\":");
        return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + key.size() + 3);
    };
    EXPECT_GT(number("repaints"), 0) << r.out;
    EXPECT_GE(number("decoded"), number("repaints")) << r.out;
    EXPECT_EQ(number("decodeFailures"), 0) << r.out;
    // The demo camera enables zones 1 and 2; the read brought them.
    EXPECT_NE(r.out.find("{\"enable\":1,\"rect\":[40,40,280,200]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"message\":\"\""), std::string::npos) << r.out;
    EXPECT_GT(std::filesystem::file_size(shot), 1000u);
    std::filesystem::remove(shot);
}

TEST(Camhost, RefusesWhatItCannotRun)
{
    for (const char* args : {"", "vuelo", "mozon", "--demo other", "--bogus"}) {
        CommandResult r = RunCommand(std::string(CAMHOST_PROGRAM) + " " + args + " 2>&1");
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(WEXITSTATUS(r.status), 2) << args;
    }
}
