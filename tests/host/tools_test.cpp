// camhost's headless tools as a user runs them, against the simulated camera in this process:
// what they print, what the camera received, what they leave on disk, and how each failure ends.

#include "camsim/camera.h"
#include "codec/image_holder.h"
#include "host/tool_zones.h"
#include "tests/support/test_certificate.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result
{
    int code = -1;
    std::string out, err;
    json Json() const { return json::parse(out, nullptr, false); }
};

class Tools : public testing::Test
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/camhost-tools-XXXXXX";
        ASSERT_TRUE(::mkdtemp(dir));
        m_dir = dir;
    }
    void TearDown() override
    {
        if (m_camera)
            m_camera->Stop();
        fs::remove_all(m_dir);
    }
    camsim::Camera& Start(camsim::Config config = {})
    {
        m_camera = std::make_unique<camsim::Camera>(std::move(config));
        EXPECT_TRUE(m_camera->Start());
        return *m_camera;
    }
    std::string Url() const { return m_camera->BaseUrl(); }
    fs::path Path(const char* name) const { return m_dir / name; }

    // `env` goes in front of the program (CAMCTL_PASSWORD=...), `input` is its standard input.
    Result Camhost(const std::string& args, const std::string& env = {},
                   const std::string& input = {}) const
    {
        const fs::path err = m_dir / "stderr", in = m_dir / "stdin";
        std::ofstream(in) << input;
        Result r;
        FILE* pipe = ::popen(("env -u CAMCTL_PASSWORD " + env + " " + CAMHOST_PROGRAM + " " +
                              args + " <" + in.string() + " 2>" + err.string())
                                 .c_str(),
                             "r");
        if (!pipe)
            return r;
        std::array<char, 4096> buffer;
        for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
            r.out.append(buffer.data(), n);
        const int status = ::pclose(pipe);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::stringstream text;
        text << std::ifstream(err).rdbuf();
        r.err = text.str();
        return r;
    }
    // Nothing of a file that was not written whole: no file, no temporary beside it.
    void ExpectNothingWritten() const
    {
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "stderr" || name == "stdin") << name;
        }
    }

    fs::path m_dir;
    std::unique_ptr<camsim::Camera> m_camera;
};

camsim::Config WithLogin()
{
    camsim::Config c;
    c.user = "admin";
    c.password = "s3cret";
    return c;
}

TEST_F(Tools, ProbeTellsTheQueriesAnswersAndHowTheLoginWent)
{
    const fs::path right = Path("right"), wrong = Path("wrong");
    std::ofstream(right) << "s3cret\n";
    std::ofstream(wrong) << "guess\n";
    struct Case
    {
        bool login;
        std::string args;
        int code;
        const char* state;
    } cases[] = {
        {false, "", 0, "not needed"},
        {true, "", 8, "not given"},
        {true, "--user admin --password-file " + wrong.string(), 7, "refused"},
        {true, "--user admin --password-file " + right.string(), 0, "accepted"},
    };
    for (const Case& c : cases) {
        camsim::Config config = c.login ? WithLogin() : camsim::Config{};
        config.ptctrl = "off";
        config.videoType = "jpeg";
        config.resolutions = "704*480,160*128";
        Start(config);
        const Result r = Camhost("probe " + Url() + " " + c.args);
        SCOPED_TRACE(c.state);
        EXPECT_EQ(r.code, c.code) << r.err;
        const json j = r.Json();
        ASSERT_TRUE(j.is_object()) << r.out;
        EXPECT_EQ(j["wants_credentials"], c.login);
        EXPECT_EQ(j["login"], c.state);
        if (c.code == 0) {
            EXPECT_EQ(j["ptctrl"], "off");
            EXPECT_EQ(j["ioctrl"], "off");
            EXPECT_EQ(j["type"], "jpeg");
            EXPECT_EQ(j["voice_out"], "on");
            EXPECT_EQ(j["sizes"], json({"704x480", "160x128"}));
            EXPECT_EQ(j["stream"], Url() + "img/mjpeg.cgi");
        } else {
            EXPECT_TRUE(j["ptctrl"].is_null());
        }
        EXPECT_EQ(r.err.find("s3cret"), std::string::npos);
        m_camera->Stop();
    }
}

TEST_F(Tools, SnapshotSavesTheNextWholePictureAtTheStreamsSize)
{
    struct Case
    {
        const char* type;
        const char* size;
        uint32_t width, height;
    } cases[] = {{"mpeg4", "320x240", 320, 240}, {"jpeg", "640x480", 640, 480}};
    for (const Case& c : cases) {
        camsim::Config config;
        config.videoType = c.type;
        config.asfSize = config.mjpegSize = c.size;
        Start(config);
        const fs::path file = Path("shot.jpg");
        const Result r = Camhost("snapshot " + Url() + " -o " + file.string() + " --timeout 5");
        ASSERT_EQ(r.code, 0) << c.type << r.err;
        CImageHolder picture;
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_TRUE(picture.Decode(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   uint32_t(bytes.size()), FormatJpeg))
            << c.type;
        EXPECT_EQ(picture.GetWidth(), c.width);
        EXPECT_EQ(picture.GetHeight(), c.height);
        EXPECT_EQ(r.Json()["width"], c.width);
        fs::remove(file);
        m_camera->Stop();
    }
}

TEST_F(Tools, RecordWritesTheAsfStreamFfprobeReads)
{
    Start();
    const fs::path file = Path("clip.asf");
    const Result r = Camhost("record " + Url() + " -o " + file.string() + " --seconds 1.5");
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = r.Json();
    EXPECT_EQ(j["complete"], true);
    EXPECT_GE(j["seconds"].get<double>(), 1.5);
    EXPECT_EQ(j["bytes"], fs::file_size(file));
    // Not a terminal: no progress.
    EXPECT_EQ(r.err, "");

    FILE* probe = ::popen(("ffprobe -v error -show_entries stream=codec_type,codec_name,width "
                           "-of csv=p=0 " + file.string()).c_str(), "r");
    ASSERT_TRUE(probe);
    std::string streams;
    std::array<char, 256> line;
    while (std::fgets(line.data(), int(line.size()), probe))
        streams += line.data();
    EXPECT_EQ(::pclose(probe), 0);
    EXPECT_NE(streams.find("mpeg4,video,320"), std::string::npos) << streams;
    EXPECT_NE(streams.find("adpcm_g726,audio"), std::string::npos) << streams;
}

TEST_F(Tools, FailuresEndWithTheExitCodesOfTheWindowAndLeaveNoFile)
{
    // A port nothing listens on.
    Start();
    const std::string gone = Url();
    m_camera->Stop();

    auto fault = [](const char* endpoint, auto set) {
        return [endpoint, set](camsim::Camera& camera) {
            camsim::Fault f;
            set(f);
            camera.SetFault(endpoint, f);
        };
    };
    auto hang = [](camsim::Fault& f) { f.hang = true; };
    struct Case
    {
        const char* what;
        std::function<void(camsim::Config&)> configure;
        std::function<void(camsim::Camera&)> setup;
        std::string command;
        int code;
    } cases[] = {
        {"nothing listening", nullptr, nullptr, "probe " + gone, 4},
        {"query hangs", nullptr, fault("img/query.cgi", hang), "probe", 5},
        {"not a camera", nullptr, fault("util/query.cgi", [](camsim::Fault& f) { f.status = 404; }),
         "probe", 10},
        {"busy stream", [](camsim::Config& c) { c.maxUsers = 0; }, nullptr, "snapshot", 9},
        {"stream hangs", nullptr, fault("img/video.asf", hang), "snapshot", 5},
        {"stream stalls", nullptr, fault("img/video.asf", [](camsim::Fault& f) {
             f.stream = "stall";
             f.afterPictures = 0;
         }),
         "snapshot", 5},
        {"zones busy", [](camsim::Config& c) { c.zoneRead403 = true; }, nullptr, "zones get", 9},
        {"zones login", [](camsim::Config& c) { c = WithLogin(); }, nullptr, "zones get", 8},
        {"zones error page", nullptr,
         fault("ocxparser.cgi", [](camsim::Fault& f) { f.status = 500; }), "zones get", 10},
        {"record busy", [](camsim::Config& c) { c.maxUsers = 0; }, nullptr, "record", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string command = c.command;
        if (command.find("http") == std::string::npos) {
            camsim::Config config;
            if (c.configure)
                c.configure(config);
            Start(config);
            if (c.setup)
                c.setup(*m_camera);
            command += " " + Url();
        }
        if (command.rfind("snapshot", 0) == 0)
            command += " -o " + Path("shot.jpg").string();
        if (command.rfind("record", 0) == 0)
            command += " -o " + Path("clip.asf").string() + " --seconds 5";
        const auto started = std::chrono::steady_clock::now();
        const Result r = Camhost(command + " --timeout 0.5");
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_NE(r.err.find("camhost: "), std::string::npos);
        ExpectNothingWritten();
        if (m_camera)
            m_camera->Stop();
    }
}

TEST_F(Tools, ZonesSetChangesOnlyWhatTheFileGivesAndReportsWhatTheCameraKept)
{
    camsim::Config config;
    config.zoneResolution = 4; // the save narrows x by 640/704
    camsim::Camera& camera = Start(config);
    const camsim::ZoneConfig before = camera.Zones();
    const Result r = Camhost("zones set " + Url() + " -", {},
                             R"({"zones": [{"zone": 1, "enable": true, "rect": [10, 20, 640, 260]},
                                           {"zone": 4, "threshold": 7}]})");
    ASSERT_EQ(r.code, 0) << r.err;

    const camsim::ZoneConfig after = camera.Zones();
    EXPECT_EQ(after.zones[0].enable, 1);
    EXPECT_EQ(after.zones[0].threshold, before.zones[0].threshold);
    EXPECT_EQ(after.zones[0].x2, 581);
    EXPECT_EQ(after.zones[0].y2, 260);
    EXPECT_EQ(after.zones[3].threshold, 7);
    EXPECT_EQ(after.zones[3].y1, before.zones[3].y1);
    EXPECT_EQ(after.zones[1].x1, 327); // 360, converted as every zone is
    EXPECT_EQ(after.zones[2].enable, before.zones[2].enable);

    // What it printed is what the camera keeps, and the change it made is said.
    const json j = r.Json();
    EXPECT_EQ(j["zones"][0]["rect"], json({9, 20, 581, 260}));
    EXPECT_EQ(j["zones"][3]["threshold"], 7);
    EXPECT_NE(r.err.find("zone 1 x2: sent 640, the camera keeps 581"), std::string::npos) << r.err;
    // It let the camera go, as the control does.
    const auto requests = camera.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().body.find("MOT_OCX_FREE"), std::string::npos);

    // What get prints, set takes back.
    const Result get = Camhost("zones get " + Url());
    ASSERT_EQ(get.code, 0) << get.err;
    EXPECT_EQ(get.Json()["zones"], j["zones"]);
    EXPECT_EQ(Camhost("zones set " + Url() + " -", {}, get.out).code, 0);
}

TEST_F(Tools, ABadZonesFileNamesTheFieldAndReachesNoCamera)
{
    struct Case
    {
        const char* text;
        const char* why;
    } cases[] = {
        {R"({"zones": [{"zone": 1, "threshold": 256}]})",
         "zones[0].threshold: 256 is out of range (0 to 255)"},
        {R"({"zones": [{"zone": 2, "sensitivity": -1}]})",
         "zones[0].sensitivity: -1 is out of range (0 to 10)"},
        {R"({"zones": [{"enable": true}]})", "zones[0]: missing \"zone\" (1 to 4)"},
        {R"({"zones": [{"zone": 5}]})", "zones[0].zone: 5 is out of range (1 to 4)"},
        {R"({"zones": [{"zone": 1}, {"zone": 1}]})", "zones[1].zone: zone 1 is given twice"},
        {R"({"zones": [{"zone": 1, "enable": 1}]})",
         "zones[0].enable: expected true or false, got 1"},
        {R"({"zones": [{"zone": 1, "threshold": "high"}]})",
         "zones[0].threshold: expected a whole number, got \"high\""},
        {R"({"zones": [{"zone": 1, "rect": [0, 0, 641, 10]}]})",
         "zones[0].rect[2]: 641 is out of range (0 to 640)"},
        {R"({"zones": [{"zone": 1, "rect": [60, 0, 50, 10]}]})",
         "zones[0].rect: x1 (60) lies beyond x2 (50)"},
        {R"({"zones": [{"zone": 1, "rect": [0, 0, 10]}]})",
         "zones[0].rect: expected [x1, y1, x2, y2], got [0,0,10]"},
        {R"({"zones": [{"zone": 3, "tresh": 1}]})", "zones[0]: unknown field \"tresh\""},
        {R"({"zone": 1})", "unknown field \"zone\""},
        {R"({"resolution": 3})", "missing \"zones\""},
        {R"({"zones": []})", "zones: expected a list of one to four zones, got []"},
        {R"({"zones": [)", "parse error at line 1, column 12"},
        {R"({"zones": [{"zone": 1, "threshold": 1e999}]})", "number overflow parsing '1e999'"},
    };
    for (const Case& c : cases) {
        host::ZoneEdits edits;
        std::string why;
        EXPECT_FALSE(host::ParseZonesFile(c.text, edits, why)) << c.text;
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }

    camsim::Camera& camera = Start();
    const Result r = Camhost("zones set " + Url() + " -", {}, cases[0].text);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, std::string("camhost: standard input: ") + cases[0].why + "\n");
    EXPECT_EQ(camera.RequestsArrived(), 0);

    // A zone never set reports an empty rectangle: it goes back as it came, but a zone the
    // file switches on needs a real one.
    camsim::ZoneConfig zones = camera.Zones();
    zones.zones[2] = camsim::Zone{};
    camera.SetZones(zones);
    const Result get = Camhost("zones get " + Url());
    EXPECT_EQ(Camhost("zones set " + Url() + " -", {}, get.out).code, 0);
    const Result enabled = Camhost("zones set " + Url() + " -", {},
                                   R"({"zones": [{"zone": 3, "enable": true}]})");
    EXPECT_EQ(enabled.code, 2);
    EXPECT_NE(enabled.err.find("zones[0]: zone 3 would be enabled with the camera's rectangle "
                               "[0, 0, 0, 0]"),
              std::string::npos)
        << enabled.err;
    EXPECT_EQ(camera.Zones(), zones);
}

TEST_F(Tools, HttpsCamerasServeOnlyWithACertificateTrustedForTheirAddress)
{
    testsupport::TestCertificate own, other;
    ASSERT_TRUE(testsupport::MakeTestCertificate(m_dir, "own", "127.0.0.1", own));
    ASSERT_TRUE(testsupport::MakeTestCertificate(m_dir, "other", "camera.invalid", other));
    auto camera = [](const testsupport::TestCertificate& c, const char* type) {
        camsim::Config config;
        config.tlsCert = c.cert.string();
        config.tlsKey = c.key.string();
        config.videoType = type;
        auto started = std::make_unique<camsim::Camera>(config);
        EXPECT_TRUE(started->Start());
        return started;
    };
    const auto mpeg = camera(own, "mpeg4"), jpeg = camera(own, "jpeg"),
               misnamed = camera(other, "mpeg4");
    const std::string trustOwn = " --cacert " + own.cert.string();
    const std::string shot = " -o " + Path("shot.jpg").string();
    struct Case
    {
        const camsim::Camera& camera;
        std::string command, options;
        int code;
    } cases[] = {
        {*mpeg, "probe", trustOwn, 0},
        {*mpeg, "snapshot", shot + trustOwn, 0},
        {*jpeg, "snapshot", shot + trustOwn, 0},
        {*mpeg, "zones get", trustOwn, 0},
        {*mpeg, "probe", "", 11},
        {*misnamed, "probe", " --cacert " + other.cert.string(), 11},
    };
    for (const Case& c : cases) {
        const std::string url = c.camera.BaseUrl();
        ASSERT_EQ(url.rfind("https://", 0), 0u);
        const Result r = Camhost(c.command + " " + url + c.options + " --timeout 5");
        SCOPED_TRACE(c.command + c.options);
        EXPECT_EQ(r.code, c.code) << r.err;
        if (c.code == 0) {
            const json j = r.Json();
            ASSERT_TRUE(j.is_object()) << r.out;
            if (c.command == "zones get")
                EXPECT_EQ(j["zones"].size(), 4u);
            else
                EXPECT_EQ(j["stream"], url + (&c.camera == jpeg.get() ? "img/mjpeg.cgi"
                                                                     : "img/video.asf"));
        } else {
            EXPECT_NE(r.err.find("certificate of " + url + " failed verification"),
                      std::string::npos)
                << r.err;
            // The hint only where it can help.
            EXPECT_EQ(r.err.find("--cacert FILE trusts") != std::string::npos, c.options.empty())
                << r.err;
        }
    }
    EXPECT_GT(mpeg->RequestsArrived(), 0);
    EXPECT_EQ(misnamed->Requests().size(), 0u);
}

TEST_F(Tools, PtzSendsWhatTheViewerSendsForAClickThere)
{
    struct Case
    {
        const char* args;
        int h, v;
    } cases[] = {
        {"--at 160,120", 0, 0},                              // the centre of the 320x240 stream
        {"--at 260,20", 100, 93},                            // right and up
        {"--at 452,240 --picture-size 704x480", 90, 0},      // 640/704 of 100
    };
    camsim::Camera& camera = Start();
    for (const Case& c : cases) {
        const Result r = Camhost(std::string("ptz ") + Url() + " " + c.args);
        ASSERT_EQ(r.code, 0) << c.args << r.err;
        const auto sent = camera.PanTiltCommands();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back().h, c.h) << c.args;
        EXPECT_EQ(sent.back().v, c.v) << c.args;
        EXPECT_EQ(sent.back().speed, 10);
        EXPECT_EQ(r.Json()["h"], c.h);
    }
    EXPECT_EQ(Camhost("ptz " + Url() + " --at 321,10").code, 2);
    m_camera->Stop();

    camsim::Config off;
    off.ptctrl = "off";
    Start(off);
    const Result r = Camhost("ptz " + Url() + " --at 10,10");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no pan/tilt head"), std::string::npos);
    EXPECT_TRUE(m_camera->PanTiltCommands().empty());
}

} // namespace
