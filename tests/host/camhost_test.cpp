// The main job as a user runs it: camhost's demo without a display plays the simulated camera,
// writes its screenshot and prints its statistics.

#include "camsim/camera.h"
#include "module/identifiers.h"
#include "module/registration.h"
#include "platform/settings.h"
#include "tests/support/raw_server.h"
#include "tests/support/test_certificate.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

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
    CommandResult r =
        RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(CAMHOST_PROGRAM) +
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
    CommandResult r =
        RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(CAMHOST_PROGRAM) +
                   " --demo mozon --seconds 3 --screenshot " + shot.string() + " 2>/dev/null");
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
    for (const char* args : {"", "vuelo", "mozon", "--demo other", "--bogus", "register",
                             "unregister", "register a b", "--demo register x",
                             "vuelo http://c/ --seconds abc", "vuelo http://c/ --size huge",
                             "vuelo http://c/ --type bogus", "mozon http://c --rate 5"}) {
        CommandResult r = RunCommand(std::string(CAMHOST_PROGRAM) + " " + args + " 2>&1");
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(WEXITSTATUS(r.status), 2) << args;
    }
}

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A settings store of the test's own, named to camhost through CAMCTL_SETTINGS.
class CamhostStore : public testing::Test
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/camhost-store-XXXXXX";
        ASSERT_TRUE(::mkdtemp(dir));
        m_dir = dir;
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::filesystem::path File() const { return m_dir / "settings.reg"; }
    CommandResult Camhost(const std::string& args) const
    {
        return RunCommand("env CAMCTL_SETTINGS=" + File().string() + " " + CAMHOST_PROGRAM + " " +
                          args + " 2>&1");
    }

    std::filesystem::path m_dir;
};

uint32_t Limit(const platform::SettingsStore& store, const char* name)
{
    return store
        .GetDword(platform::SettingsRoot::CurrentUser, component::kInternetSettingsKey, name)
        .value_or(0);
}

} // namespace

TEST_F(CamhostStore, RegisterAndUnregisterCallTheModulesEntryPoints)
{
    platform::SettingsStore store(File());
    store.SetDword(platform::SettingsRoot::CurrentUser, component::kInternetSettingsKey,
                   "MaxConnectionsPer1_0Server", 2);
    store.SetDword(platform::SettingsRoot::CurrentUser, component::kInternetSettingsKey,
                   "MaxConnectionsPerServer", 4);

    CommandResult r = Camhost(std::string("register ") + VUELO_MODULE);
    ASSERT_EQ(r.status, 0) << r.out;
    // Loading the module raised both limits, overwriting what was there.
    EXPECT_EQ(Limit(store, "MaxConnectionsPer1_0Server"), 25u);
    EXPECT_EQ(Limit(store, "MaxConnectionsPerServer"), 25u);
    const auto found = component::FindControl(store, "VUELO.VueloCtrl.1");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->serverPath, std::filesystem::canonical(VUELO_MODULE).string());
    EXPECT_TRUE(found->safeForScripting && found->safeForInitializing);

    const std::string once = ReadFile(File());
    r = Camhost(std::string("register ") + VUELO_MODULE);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ReadFile(File()), once) << "registering twice leaves the same entries";

    r = Camhost(std::string("unregister ") + VUELO_MODULE);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(component::FindControl(store, "VUELO.VueloCtrl.1"));
    EXPECT_TRUE(
        store.KeyExists(platform::SettingsRoot::ClassesRoot,
                        "Component Categories\\" + component::kCatidSafeForScripting.ToString()));
    EXPECT_TRUE(store.KeyExists(platform::SettingsRoot::ClassesRoot,
                                "Component Categories\\" +
                                    component::kCatidSafeForInitializing.ToString()));
    EXPECT_EQ(Limit(store, "MaxConnectionsPerServer"), 25u);

    // Unregistering what is not registered fails as the type library step reports it.
    r = Camhost(std::string("unregister ") + VUELO_MODULE);
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.out;
    EXPECT_NE(r.out.find("0x80040200"), std::string::npos) << r.out;
}

TEST_F(CamhostStore, ControlsComeOnlyFromRegisteredSafeModules)
{
    CommandResult r = Camhost("mozon http://127.0.0.1:9 --offscreen --seconds 0.1");
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.out;
    EXPECT_NE(r.out.find("MOZON.MozonCtrl.1 is not registered"), std::string::npos) << r.out;

    ASSERT_EQ(Camhost(std::string("register ") + MOZON_MODULE).status, 0);
    platform::SettingsStore store(File());
    ASSERT_TRUE(store.DeleteKey(platform::SettingsRoot::ClassesRoot,
                                "CLSID\\" + component::kMozonIds.controlClassId.ToString() +
                                    "\\Implemented Categories\\" +
                                    component::kCatidSafeForScripting.ToString()));
    r = Camhost("mozon http://127.0.0.1:9 --offscreen --seconds 0.1");
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.out;
    EXPECT_NE(r.out.find("Controls safely scriptable!"), std::string::npos) << r.out;

    r = Camhost("register /etc/hostname");
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.out;
    EXPECT_NE(r.out.find("cannot load"), std::string::npos) << r.out;
}

namespace {

// The module's visible symbols: C names as they are, C++ names demangled.
std::set<std::string> DynamicSymbols(const char* file, bool demangle)
{
    CommandResult r =
        RunCommand(std::string("nm -D --defined-only ") + (demangle ? "-C " : "") + file);
    std::set<std::string> names;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        // "ADDRESS TYPE NAME"; lower-case types are local and not visible.
        const size_t type = line.find(' ');
        if (type == std::string::npos || type + 3 > line.size())
            continue;
        const char t = line[type + 1];
        if (std::islower(static_cast<unsigned char>(t)) && t != 'u' && t != 'i')
            continue;
        names.insert(line.substr(type + 3));
    }
    return names;
}

const std::set<std::string> kCodecExports = {
    "decoder_create",      "decoder_decode",    "decoder_destroy", "init_YUV2RGB_tab",
    "delete_YUV2RGB_tab",  "ConvertYUVtoRGB",   "MotionDetect",    "DllRegisterServer",
    "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow",
};

} // namespace

TEST(ModuleExports, TheMotionZoneModuleShowsItsEntryPointsAndVideoCodecOnly)
{
    EXPECT_EQ(DynamicSymbols(MOZON_MODULE, false), kCodecExports);
}

TEST(ModuleExports, TheViewerModuleAddsAudioAndTheImageHolderClasses)
{
    std::set<std::string> c, classes;
    for (const std::string& name : DynamicSymbols(VUELO_MODULE, true)) {
        const bool member =
            name.rfind("CImage", 0) == 0 || name.find(" for CImage") != std::string::npos;
        (member ? classes : c).insert(name);
    }
    std::set<std::string> expected = kCodecExports;
    expected.insert({"G726_decoder_create", "G726_dec", "G726_decoder_destroy"});
    EXPECT_EQ(c, expected);
    for (const char* needed :
         {"CImageHolder::CImageHolder(ImageFormat)", "CImageHolder::~CImageHolder()",
          "CImageHolder::Decode(unsigned char const*, unsigned int, ImageFormat)",
          "CImageHolder::SaveToFile(char const*, ImageFormat)", "CImageHolder::FreeDib()",
          "CImageIOFile::Open(char const*, char const*)", "vtable for CImageMemFile",
          "typeinfo for CImageFile"})
        EXPECT_EQ(classes.count(needed), 1u) << needed;
    for (const std::string& name : classes) {
        const bool ours = name.find("CImageHolder") != std::string::npos ||
                          name.find("CImageFile") != std::string::npos ||
                          name.find("CImageIOFile") != std::string::npos ||
                          name.find("CImageMemFile") != std::string::npos;
        EXPECT_TRUE(ours) << name;
    }
}

TEST_F(CamhostStore, UnregisterWorksWhenTheModuleFileIsGone)
{
    const auto copy = m_dir / "libmozon-copy.so";
    std::filesystem::copy_file(MOZON_MODULE, copy);
    ASSERT_EQ(Camhost("register " + copy.string()).status, 0);
    std::filesystem::remove(copy);
    CommandResult r = Camhost("unregister " + copy.string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(component::FindControl(platform::SettingsStore(File()), "MOZON.MozonCtrl.1"));
    r = Camhost("unregister " + copy.string());
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.out;
}

namespace {

// camhost against a server of the test's own, registered in the test's store.
class CamhostRun : public CamhostStore
{
protected:
    void SetUp() override
    {
        CamhostStore::SetUp();
        ASSERT_EQ(Camhost(std::string("register ") + VUELO_MODULE).status, 0);
        ASSERT_EQ(Camhost(std::string("register ") + MOZON_MODULE).status, 0);
    }
    CommandResult Run(const std::string& args, const std::string& env = {}) const
    {
        return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY CAMCTL_SOUND=virtual HOME=" +
                          m_dir.string() + " CAMCTL_SETTINGS=" + File().string() + " " + env +
                          " " + CAMHOST_PROGRAM + " " + args + " 2>&1");
    }
};

std::string Reply(const std::string& status, const std::string& body)
{
    return "HTTP/1.0 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST_F(CamhostRun, EachFailureHasItsLineAndExitCode)
{
    const std::string secret = "pw-7f3a";
    std::filesystem::path wrong = m_dir / "wrong", right = m_dir / "right";
    std::ofstream(wrong) << "not-" << secret << "\n";
    std::ofstream(right) << secret << "\n";

    testsupport::TestCertificate own;
    ASSERT_TRUE(testsupport::MakeTestCertificate(m_dir, "own", "127.0.0.1", own));
    camsim::Config basic, digest, busy, tls;
    tls.tlsCert = own.cert.string();
    tls.tlsKey = own.key.string();
    basic.user = digest.user = "admin";
    basic.password = digest.password = secret;
    basic.auth = camsim::AuthScheme::Basic;
    digest.auth = camsim::AuthScheme::Digest;
    busy.maxUsers = 0;
    busy.zoneRead403 = true;
    camsim::Camera basicCamera(basic), digestCamera(digest), busyCamera(busy), gone,
        tlsCamera(tls);
    for (camsim::Camera* c : {&basicCamera, &digestCamera, &busyCamera, &gone, &tlsCamera})
        ASSERT_TRUE(c->Start());
    const std::string nobody = gone.BaseUrl();
    gone.Stop();
    testsupport::RawServer closes([](testsupport::RawServer::Connection&) {});
    testsupport::RawServer silent([](testsupport::RawServer::Connection& c) {
        c.ReadRequest();
        c.Hold();
    });
    testsupport::RawServer notFound([](testsupport::RawServer::Connection& c) {
        c.ReadRequest();
        c.Send(Reply("404 Not Found", "<html>no such page</html>"));
    });
    testsupport::RawServer router([](testsupport::RawServer::Connection& c) {
        c.ReadRequest();
        c.Send(Reply("200 OK", "<html><body>Router login</body></html>"));
    });

    struct Row
    {
        std::string args, env;
        int code;
        std::string line;
    };
    const std::string b = basicCamera.BaseUrl(), d = digestCamera.BaseUrl();
    const std::string dz = d.substr(0, d.size() - 1);
    const std::string t = tlsCamera.BaseUrl();
    const std::vector<Row> rows = {
        {"vuelo ftp://camera/", "", 3, "wrong URL form"},
        {"vuelo " + nobody, "", 4, "nothing listening at " + nobody},
        {"vuelo " + closes.Url(), "", 6, "refused the connection"},
        {"vuelo " + silent.Url() + " --seconds 1", "", 5, silent.Url() + " does not answer"},
        {"vuelo " + b + " --user admin", "CAMCTL_PASSWORD=not-" + secret, 7,
         b + " refused the user name or password"},
        {"mozon " + dz + " --user admin --password-file " + wrong.string(), "", 7,
         d + " refused the user name or password"},
        {"vuelo " + d, "", 8, "login to " + d + " cancelled"},
        {"mozon " + b, "", 8, "login to " + b + " cancelled"},
        {"vuelo " + busyCamera.BaseUrl(), "", 9, "is busy"},
        {"mozon " + busyCamera.BaseUrl(), "", 9, "is busy"},
        {"vuelo " + notFound.Url(), "", 10, "not as a camera (HTTP 404 for /img/query.cgi)"},
        {"vuelo " + router.Url() + " --seconds 20", "", 10, "answers, but not as a camera"},
        {"vuelo " + d + "img/mjpeg.cgi --user admin --password-file " + right.string() +
             " --seconds 2 --stats",
         "", 0, "\"painted\":"},
        {"mozon " + b + " --user admin --seconds 2 --stats", "CAMCTL_PASSWORD=" + secret, 0,
         "\"live\":true"},
        {"mozon " + t, "", 11, "certificate of " + t + " failed verification"},
        // The trusted file reaches the module's own HTTP layer.
        {"vuelo " + t + "img/video.asf --type mpeg --seconds 2 --stats --cacert " +
             own.cert.string(),
         "", 0, "\"painted\":"},
    };
    for (const Row& row : rows) {
        const auto start = std::chrono::steady_clock::now();
        const CommandResult r = Run(row.args + " --offscreen", row.env);
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                           start).count();
        ASSERT_TRUE(WIFEXITED(r.status)) << row.args;
        EXPECT_EQ(WEXITSTATUS(r.status), row.code) << row.args << "\n" << r.out;
        EXPECT_NE(r.out.find(row.line), std::string::npos) << row.args << "\n" << r.out;
        EXPECT_EQ(r.out.find(secret + "\n"), std::string::npos) << row.args;
        EXPECT_EQ(r.out.find(":" + secret), std::string::npos) << row.args;
        // A run that ends on a failure does not wait for a time limit it was not given.
        EXPECT_LT(seconds, 15) << row.args;
    }
}

TEST_F(CamhostRun, CtrlCEndsTheDemoAndRemovesItsStore)
{
    const auto tmp = m_dir / "tmp";
    std::filesystem::create_directory(tmp);
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY CAMCTL_SOUND=virtual HOME=" +
                                m_dir.string() + " TMPDIR=" + tmp.string() + " " +
                                CAMHOST_PROGRAM + " --demo --offscreen";
    FILE* pipe = ::popen((command + " 2>/dev/null & echo $!; wait $!; echo $?").c_str(),
                         "r");
    ASSERT_TRUE(pipe);
    char line[256] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, pipe));
    const pid_t pid = std::atoi(line);
    ASSERT_TRUE(std::fgets(line, sizeof line, pipe)); // "simulated camera on ..."
    auto stores = [&] {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(tmp))
            n += entry.path().filename().string().rfind("camhost-demo-", 0) == 0;
        return n;
    };
    EXPECT_EQ(stores(), 1) << line;
    ::kill(pid, SIGINT);
    std::string rest;
    while (std::fgets(line, sizeof line, pipe))
        rest += line;
    ::pclose(pipe);
    EXPECT_EQ(std::atoi(rest.c_str() + rest.rfind('\n', rest.size() - 2) + 1), 130) << rest;
    EXPECT_EQ(stores(), 0);
}

TEST_F(CamhostRun, ADisplayThatDoesNotOpenIsSaidInOneLine)
{
    const std::string env = "env DISPLAY=:97531 WAYLAND_DISPLAY= CAMCTL_SOUND=virtual HOME=" +
                            m_dir.string() + " CAMCTL_SETTINGS=" + File().string() + " ";
    CommandResult r = RunCommand(env + CAMHOST_PROGRAM + " vuelo http://127.0.0.1:9/ 2>&1");
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.out;
    EXPECT_EQ(r.out, "camhost: cannot open display :97531; give --offscreen (with --seconds) to "
                     "run without a window\n");
    // With an end of its own the run goes on offscreen.
    r = RunCommand(env + CAMHOST_PROGRAM + " vuelo http://127.0.0.1:9/ --seconds 1 2>&1");
    EXPECT_EQ(WEXITSTATUS(r.status), 4) << r.out;
    EXPECT_NE(r.out.find("running offscreen"), std::string::npos) << r.out;
}
