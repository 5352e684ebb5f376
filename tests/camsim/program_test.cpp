// The camsim program as a user starts it: first line, answers, clean exit on a stop signal.

#include "platform/http.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Child
{
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child Spawn(std::vector<std::string> args)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(CAMSIM_PROGRAM));
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(CAMSIM_PROGRAM, argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, ::fdopen(pipeFds[0], "r")};
}

int Finish(Child& child)
{
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    std::fclose(child.out);
    return status;
}

// A GET, or a POST of `post` when there is one.
std::string Get(const std::string& url, const std::string& post = {})
{
    platform::HttpRequest request;
    request.url = url;
    request.post = !post.empty();
    request.body = post;
    platform::HttpStream stream(request);
    if (!stream.Open())
        return {};
    std::string body;
    char block[1024];
    while (size_t n = stream.Read(block, sizeof block))
        body.append(block, n);
    return body;
}

} // namespace

TEST(CamsimProgram, PrintsWhereItListensAnswersAndStopsOnSignal)
{
    Child child = Spawn({"--port", "0", "--type", "jpeg"});
    ASSERT_GT(child.pid, 0);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, child.out), nullptr);
    std::string first(line);
    const std::string prefix = "listening on http://127.0.0.1:";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
    ASSERT_EQ(first.back(), '\n');
    const std::string base = first.substr(13, first.size() - 14);
    EXPECT_EQ(base.back(), '/');

    EXPECT_EQ(Get(base + "util/query.cgi"),
              "type=jpeg\r\nvoice_out=on\r\nresolutions=640*480,320*240,160*120\r\n");

    ::kill(child.pid, SIGTERM);
    int status = Finish(child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CamsimProgram, ZoneOptionsSetTheReportedResolutionCodeAndTheBusyPage)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--zone-res", "4"},
                                          {"--zone-read-403"}}) {
        args.insert(args.begin(), {"--port", "0"});
        Child child = Spawn(args);
        ASSERT_GT(child.pid, 0);
        char line[256] = {};
        ASSERT_NE(std::fgets(line, sizeof line, child.out), nullptr);
        const std::string first(line);
        const std::string base = first.substr(13, first.size() - 14);
        const std::string read = Get(base + "ocxparser.cgi", "COMMAND: MOT_READ_AREA\r\n\r\n");
        EXPECT_EQ(read.rfind(args[2] == "--zone-res" ? "RES: 4\r\n" : "<HTML><HEAD><TITLE>403", 0),
                  0u)
            << read;
        ::kill(child.pid, SIGTERM);
        Finish(child);
    }
}

TEST(CamsimProgram, PrintsTheFuzzSeedsSoARunCanBeReplayed)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--fault", "*:stream=fuzz", "--seed", "42"}, "fuzz seed 42 for *\n"},
        {{"--seed", "1", "--fault", "img/video.asf:stream=fuzz:7"},
         "fuzz seed 7 for img/video.asf\n"},
        {{"--fault", "img/mjpeg.cgi:stream=fuzz"}, "fuzz seed "}, // a new one each run
    };
    for (auto [args, expected] : cases) {
        args.insert(args.begin(), {"--port", "0"});
        Child child = Spawn(args);
        ASSERT_GT(child.pid, 0);
        char line[256] = {};
        ASSERT_NE(std::fgets(line, sizeof line, child.out), nullptr);
        ASSERT_NE(std::fgets(line, sizeof line, child.out), nullptr);
        EXPECT_EQ(std::string(line).substr(0, expected.size()), expected);
        ::kill(child.pid, SIGTERM);
        Finish(child);
    }
}

TEST(CamsimProgram, RefusesBadOptionsAndKeepsThePasswordOffTheOutput)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--port", "70000"},
                                          {"--fault", "img/query.cgi:explode"},
                                          {"--auth", "kerberos"},
                                          {"--zone-res", "four"},
                                          {"--type", "bogus"},
                                          {"--ptctrl", "maybe"},
                                          {"--resolutions", "huge"},
                                          {"--seed", "-3"},
                                          {"--bogus"}}) {
        Child child = Spawn(args);
        ASSERT_GT(child.pid, 0);
        int status = Finish(child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2) << args[0];
    }

    Child child = Spawn({"--port", "0", "--user", "admin", "--password", "hunter2-secret"});
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, child.out), nullptr);
    ::kill(child.pid, SIGINT);
    std::string rest(line);
    while (std::fgets(line, sizeof line, child.out))
        rest += line;
    int status = Finish(child);
    EXPECT_EQ(rest.find("hunter2-secret"), std::string::npos);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(CamsimProgram, RefusesAPortAnotherProgramListensOn)
{
    Child first = Spawn({"--port", "0"});
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, first.out), nullptr);
    const std::string text(line);
    const std::string port = text.substr(text.rfind(':') + 1, text.size() - text.rfind(':') - 3);

    Child second = Spawn({"--port", port});
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 50 && ended == 0; ++i) {
        ended = ::waitpid(second.pid, &status, WNOHANG);
        if (ended == 0)
            ::usleep(100 * 1000);
    }
    if (ended == 0) {
        ::kill(second.pid, SIGTERM);
        ::waitpid(second.pid, &status, 0);
    }
    std::fclose(second.out);
    EXPECT_NE(ended, 0) << "a second camera listened on port " << port;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << port;
    ::kill(first.pid, SIGTERM);
    Finish(first);
}

TEST(CamsimProgram, StartsAgainOnItsPortWhileAClientOfTheKilledOneHoldsOn)
{
    Child first = Spawn({"--port", "0"});
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, first.out), nullptr);
    const std::string text(line);
    const int port = std::stoi(text.substr(text.rfind(':') + 1));

    // A viewer in the middle of the stream when the camera dies keeps its end open a while.
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    const std::string get = "GET /img/mjpeg.cgi HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(client, get.data(), get.size(), 0), ssize_t(get.size()));
    char some[64];
    ASSERT_GT(::recv(client, some, sizeof some, 0), 0);
    ::kill(first.pid, SIGKILL);
    Finish(first);

    Child second = Spawn({"--port", std::to_string(port)});
    ASSERT_NE(std::fgets(line, sizeof line, second.out), nullptr) << "port " << port;
    EXPECT_EQ(std::string(line).rfind("listening on", 0), 0u) << line;
    ::kill(second.pid, SIGTERM);
    Finish(second);
    ::close(client);
}
