#include "host/options.h"

#include "module/identifiers.h"
#include "stream/media_sinks.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace host {

namespace {

bool ReadSeconds(const std::string& text, double low, double& out)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v < low || v > 1e6)
        return false;
    out = v;
    return true;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> allowed)
{
    for (const char* a : allowed)
        if (value == a)
            return true;
    return false;
}

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// "A,B" (separator ',') or "AxB" (separator 'x'): two whole numbers of at most four digits.
bool ReadPair(const std::string& text, char separator, int& a, int& b)
{
    const size_t at = text.find(separator);
    if (at == std::string::npos || at == 0 || at > 4 || text.size() - at - 1 == 0 ||
        text.size() - at - 1 > 4 ||
        text.find_first_not_of("0123456789", 0) != at ||
        text.find_first_not_of("0123456789", at + 1) != std::string::npos)
        return false;
    a = std::atoi(text.substr(0, at).c_str());
    b = std::atoi(text.substr(at + 1).c_str());
    return true;
}

std::string Version(const component::FileVersion& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
           std::to_string(v.release) + "." + std::to_string(v.build);
}

} // namespace

std::string VersionText()
{
    return std::string("camhost ") + CAMHOST_VERSION + " (viewer module " +
           Version(component::kVueloIds.fileVersion) + ", motion-zone module " +
           Version(component::kMozonIds.fileVersion) + ")\n";
}

std::string UsageText()
{
    return R"(usage: camhost vuelo URL [options]     the viewer on a camera
       camhost mozon URL [options]     the motion-zone editor on a camera
       camhost wall URL... [options]   a wall of viewers, one per camera (or --file FILE)
       camhost --demo [vuelo|mozon]    either one on a built-in simulated camera
       camhost register MODULE-FILE    register a control module (as a browser installs it)
       camhost unregister MODULE-FILE  take it out again, also when the file is gone

Tools, without a window (JSON on stdout, exit codes below):
       camhost probe URL               the camera's answers to the image and util queries
       camhost snapshot URL -o FILE.jpg
                                       the next whole picture of its stream, at its size
       camhost record URL -o FILE.asf --seconds N
                                       N seconds of its ASF stream, as it came
       camhost zones get URL           its four motion zones
       camhost zones set URL FILE.json change them (- reads standard input), print what the
                                       camera kept
       camhost ptz URL --at X,Y        turn it as a click on that point of its picture would

camhost plays the browser's part: it loads the control registered for VUELO.VueloCtrl.1 or
MOZON.MozonCtrl.1 in the settings store ($CAMCTL_SETTINGS, else
$XDG_CONFIG_HOME/camctl/settings.reg) into a window, scripts it as the camera's page does,
and shows below it what the control is doing.

URL forms
  vuelo, probe, snapshot, record, ptz
         http://CAMERA[:PORT]/              the camera's address; the stream is chosen by
                                            --type (img/mjpeg.cgi or img/video.asf)
         http://CAMERA[:PORT]/img/mjpeg.cgi  Motion-JPEG (--type jpeg, the default)
         http://CAMERA[:PORT]/img/video.asf  MPEG-4 with sound (--type mpeg)
  mozon, zones
         http://CAMERA[:PORT]               the camera's address (a trailing / is fine)
  A path before img/ (http://HOST/camera1/img/mjpeg.cgi) is kept. Put no password in a URL:
  the command line shows in ps.
  https://CAMERA[:PORT]/... in each form: the camera's certificate is verified against the
  system's certificate authorities and --cacert; one that fails ends the run with exit code 11.

Options
  --type jpeg|mpeg      vuelo: the stream the page asks for; the camera's own answer may
                        switch it (default: from the URL, else jpeg)
  --pantilt on|off      vuelo: whether clicks on the picture turn the camera (default on; the
                        camera's answer wins)
  --rate Fast|N         vuelo: Motion-JPEG pictures per second asked of the camera, 1 to 30
  --size 160|320|640    vuelo: picture size on screen (default: the camera's first)
  --user NAME           user name for the camera's login
  --password-file FILE  the password, first line of FILE (else $CAMCTL_PASSWORD)
  --cacert FILE         https: also trust the certificates in FILE (PEM), such as the
                        camera's own self-signed one (else $CAMCTL_CACERT)
  --retry SECONDS       reload the control this long after a connection failure or the end
                        of its live video; 0 never (default 5 in a window, 0 offscreen)
  --offscreen           run without a window
  --seconds S           end the whole run after S seconds
  --screenshot FILE.png save the window, with its status line, when the run ends
  --stats               print the control's counters (one JSON line) when the run ends;
                        vuelo: also the A/V drift (how far the picture is behind the sound)
                        and the latency (capture to paint; MPEG-4 streams that carry their
                        start time) as median, 95th percentile and maximum on stderr
  --overlay             vuelo: show the A/V drift and the latency over the picture
  --verbose             print each request and each result code as it happens
  --camera-type mpeg4|jpeg  --demo: the stream type the simulated camera reports
  -o, --output FILE     snapshot, record: the file to write (whole or not at all)
  --timeout S           tools: how long the camera may take to answer a request, and for
                        snapshot to send its picture (default 30)
  --seconds N           record: how long to record, from the first byte
  --at X,Y              ptz: the click, in pixels of the picture from its top-left corner
  --picture-size WxH    ptz: the picture's size (default: what the stream says)
  --file FILE           wall: the cameras' URLs, one a line (# starts a comment)
  --version, --help

The wall lays its viewers out in the grid that shows them largest, again when the window
changes size. Sound comes from the camera clicked last (the first one at the start); a
double-click shows that camera alone, another brings the wall back. Each viewer reconnects by
itself. The settings store allows a number of connections per server (25 once a module has
loaded): cameras past it on one server say so under their picture and wait for a free one.
The exit code is the first failing camera's; offscreen, the run ends early only when every
camera has failed.

In the window: F5 or Ctrl+R reloads the control, F11 toggles full screen, Ctrl+Q and Ctrl+W
quit. Offscreen, a login is answered from --user and the password, or cancelled; a failure
that waits for the user ends the run.

Exit codes
  0  the run ended normally            6  the server closed or refused the connection
  1  other error (not registered...)   7  login refused (wrong user name or password)
  2  bad command line or zones file    8  login cancelled, or no credentials offscreen
  3  wrong URL form                    9  camera busy (too many users)
  4  nothing listening at the address  10 something answers, but not as a camera
  5  the camera does not answer        11 its certificate fails verification (https)
                                       130, 143  ended by Ctrl+C or SIGTERM

Examples
  camhost --demo                                   viewer on the simulated camera
  camhost vuelo http://192.168.0.20/               viewer, Motion-JPEG
  camhost vuelo http://192.168.0.20/img/video.asf --type mpeg
  CAMCTL_PASSWORD=secret camhost mozon http://192.168.0.20 --user admin
  camhost vuelo http://cam/ --offscreen --seconds 10 --screenshot cam.png --stats
  camhost wall http://192.168.0.20/ http://192.168.0.21/ --type mpeg
  camhost wall --file cameras.txt --offscreen --seconds 20 --stats
  camhost probe http://192.168.0.20/ --user admin --password-file ~/.campass
  camhost snapshot http://192.168.0.20/ -o now.jpg --timeout 10
  camhost record http://192.168.0.20/ -o ten.asf --seconds 10
  camhost zones get http://192.168.0.20 > zones.json
  camhost zones set http://192.168.0.20 zones.json
  camhost ptz http://192.168.0.20/ --at 300,40
  camhost probe https://192.168.0.20/ --cacert camera.pem
)";
}

bool IsToolCommand(const std::string& command)
{
    return OneOf(command, {"probe", "snapshot", "record", "zones", "ptz"});
}

namespace {

// The words after the options, and what each tool needs of the options.
ParseResult ParseToolWords(const std::vector<std::string>& words, Options& o)
{
    auto fail = [](std::string why) { return ParseResult{ParseResult::Error, std::move(why)}; };
    const std::string& c = o.command;
    if (c == "zones") {
        if (words.size() < 2 || (words[1] != "get" && words[1] != "set"))
            return fail("zones takes get URL or set URL FILE.json");
        o.zonesAction = words[1];
        if (o.zonesAction == "get" && words.size() != 3)
            return fail("zones get takes one URL");
        if (o.zonesAction == "set" && words.size() != 4)
            return fail("zones set takes a URL and a FILE.json (- for standard input)");
        o.url = words[2];
        if (o.zonesAction == "set")
            o.zonesFile = words[3] == "-" ? words[3] : Absolute(words[3]);
    } else {
        if (words.size() != 2)
            return fail(c + " takes one URL");
        o.url = words[1];
    }
    const bool writes = c == "snapshot" || c == "record";
    if (writes && o.output.empty())
        return fail(c + " needs -o FILE");
    if (!writes && !o.output.empty())
        return fail("-o goes with snapshot or record, not " + c);
    if (c == "record" && o.seconds <= 0)
        return fail("record needs --seconds N");
    if ((c == "ptz") != (o.atX >= 0))
        return fail(c == "ptz" ? "ptz needs --at X,Y" : "--at goes with ptz");
    if (c != "ptz" && o.pictureWidth > 0)
        return fail("--picture-size goes with ptz");
    return {};
}

} // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args, Options& o)
{
    auto fail = [](std::string why) { return ParseResult{ParseResult::Error, std::move(why)}; };
    bool typeGiven = false, sizeGiven = false, rateGiven = false, panTiltGiven = false;
    bool cameraTypeGiven = false;
    // Options that belong to the window, or to the tools, to tell a mix-up.
    std::string windowOption, toolOption;
    bool secondsGiven = false;
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        auto take = [&]() {
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        auto needs = [&](const std::string& what) { return fail(arg + " needs " + what); };
        if (OneOf(arg, {"--offscreen", "--screenshot", "--stats", "--retry", "--type", "--pantilt",
                        "--rate", "--size", "--camera-type", "--overlay"}) &&
            windowOption.empty())
            windowOption = arg;
        if (OneOf(arg, {"-o", "--output", "--timeout", "--at", "--picture-size"}) &&
            toolOption.empty())
            toolOption = arg;
        if (arg == "--help" || arg == "-h") {
            return {ParseResult::Help, {}};
        } else if (arg == "--version") {
            return {ParseResult::Version, {}};
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--offscreen") {
            o.offscreen = true;
        } else if (arg == "--stats") {
            o.stats = true;
        } else if (arg == "--overlay") {
            o.overlay = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (arg == "--type") {
            if (!take() || !OneOf(value, {"jpeg", "mpeg"}))
                return needs("jpeg or mpeg");
            o.type = value;
            typeGiven = true;
        } else if (arg == "--pantilt") {
            if (!take() || !OneOf(value, {"on", "off"}))
                return needs("on or off");
            o.panTilt = value;
            panTiltGiven = true;
        } else if (arg == "--rate") {
            const bool digits = take() && !value.empty() && value.size() <= 2 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::atoi(value.c_str()) : 0;
            if (value != "Fast" && (n < 1 || n > 30))
                return needs("Fast or a whole number from 1 to 30");
            o.rate = value;
            rateGiven = true;
        } else if (arg == "--size") {
            if (!take() || !OneOf(value, {"160", "320", "640"}))
                return needs("160, 320 or 640");
            o.size = std::atoi(value.c_str());
            sizeGiven = true;
        } else if (arg == "--seconds") {
            if (!take() || !ReadSeconds(value, 0, o.seconds) || o.seconds <= 0)
                return needs("a number of seconds above 0");
            secondsGiven = true;
        } else if (arg == "--retry") {
            if (!take() || !ReadSeconds(value, 0, o.retry))
                return needs("a number of seconds (0 for never)");
        } else if (arg == "--screenshot") {
            if (!take() || value.empty())
                return needs("a file name");
            o.screenshot = Absolute(value);
        } else if (arg == "--camera-type") {
            if (!take() || !OneOf(value, {"mpeg4", "jpeg"}))
                return needs("mpeg4 or jpeg");
            o.cameraType = value;
            cameraTypeGiven = true;
        } else if (arg == "--user") {
            if (!take() || value.empty() || value.find_first_of("\r\n") != std::string::npos)
                return needs("a user name");
            o.user = value;
        } else if (arg == "--password-file") {
            if (!take() || value.empty())
                return needs("a file name");
            o.passwordFile = Absolute(value);
        } else if (arg == "--cacert") {
            if (!take() || value.empty())
                return needs("a file of certificates (PEM)");
            o.cacert = Absolute(value);
        } else if (arg == "-o" || arg == "--output") {
            if (!take() || value.empty())
                return needs("a file name");
            o.output = Absolute(value);
        } else if (arg == "--timeout") {
            if (!take() || !ReadSeconds(value, 0, o.timeout) || o.timeout <= 0)
                return needs("a number of seconds above 0");
        } else if (arg == "--at") {
            if (!take() || !ReadPair(value, ',', o.atX, o.atY))
                return needs("X,Y: the click in the picture's pixels, from its top-left corner");
        } else if (arg == "--picture-size") {
            if (!take() || !ReadPair(value, 'x', o.pictureWidth, o.pictureHeight) ||
                !IsStreamPictureSize(o.pictureWidth, o.pictureHeight))
                return needs("WxH, up to " + std::to_string(kMaxStreamWidth) + "x" +
                             std::to_string(kMaxStreamHeight));
        } else if (arg == "--file") {
            if (!take() || value.empty())
                return needs("a file name");
            o.urlFile = Absolute(value);
        } else if (arg == "--password") {
            return fail("--password is not taken: the command line shows in ps; use "
                        "--password-file FILE or CAMCTL_PASSWORD");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg);
        } else {
            words.push_back(arg);
        }
    }

    if (o.demo) {
        if (words.size() > 1)
            return fail("--demo takes vuelo or mozon and no URL");
        o.command = words.empty() ? "vuelo" : words[0];
        if (o.command != "vuelo" && o.command != "mozon")
            return fail("--demo takes vuelo or mozon");
    } else {
        if (words.empty())
            return fail("nothing to run");
        o.command = words[0];
        if (o.command == "register" || o.command == "unregister") {
            if (words.size() != 2)
                return fail(o.command + " takes one MODULE-FILE");
            o.moduleFile = Absolute(words[1]);
            return {};
        }
        if (IsToolCommand(o.command)) {
            if (!windowOption.empty())
                return fail(windowOption + " is for the window (vuelo, mozon), not " + o.command);
            if (secondsGiven && o.command != "record")
                return fail("--seconds goes with record (or the window), not " + o.command);
            if (!o.urlFile.empty())
                return fail("--file goes with wall");
            return ParseToolWords(words, o);
        }
        if (o.command == "wall") {
            if (!toolOption.empty())
                return fail(toolOption + " is for the tools (probe, snapshot, record, zones, ptz)");
            if (sizeGiven || cameraTypeGiven)
                return fail(std::string(sizeGiven ? "--size" : "--camera-type") +
                            " does not go with wall: each picture takes the size of its place");
            o.urls.assign(words.begin() + 1, words.end());
            if (o.urls.empty() && o.urlFile.empty())
                return fail("wall takes the cameras' URLs, or --file FILE");
            return {};
        }
        if (!o.urlFile.empty())
            return fail("--file goes with wall");
        if (o.command != "vuelo" && o.command != "mozon")
            return fail("unknown command " + o.command +
                        " (vuelo, mozon, wall, register, unregister, probe, snapshot, record, "
                        "zones, ptz)");
        if (!toolOption.empty())
            return fail(toolOption + " is for the tools (probe, snapshot, record, zones, ptz)");
        if (words.size() != 2)
            return fail(o.command + " takes one URL");
        o.url = words[1];
        if (cameraTypeGiven)
            return fail("--camera-type goes with --demo");
    }
    if (o.command == "mozon" &&
        (typeGiven || sizeGiven || rateGiven || panTiltGiven || o.overlay))
        return fail("--type, --size, --rate, --pantilt and --overlay are the viewer's (vuelo)");
    return {};
}

std::chrono::milliseconds RetryDelay(const Options& options)
{
    const double seconds = options.retry >= 0 ? options.retry : options.offscreen ? 0 : 5;
    return std::chrono::milliseconds(long(seconds * 1000));
}

std::optional<std::chrono::milliseconds> RunLimit(const Options& options)
{
    if (options.seconds <= 0)
        return std::nullopt;
    return std::chrono::milliseconds(long(options.seconds * 1000));
}

} // namespace host
