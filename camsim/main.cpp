// camsim: the simulated camera as a program, for the demo and for trying the controls by hand.

#include "camsim/camera.h"
#include "camsim/mjpeg_stream.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

void Usage(FILE* out)
{
    std::fputs(
        "usage: camsim [options]\n"
        "  --port N            port to listen on (0 picks a free one; default 8080)\n"
        "  --host ADDR         address to listen on (default 127.0.0.1)\n"
        "  --user NAME         ask for credentials with this user name\n"
        "  --password TEXT     the password that goes with --user\n"
        "  --auth any|basic|digest   schemes offered (default any)\n"
        "  --max-users N       stream users before the busy page (default 10); the clients\n"
        "                      of one stream (type, size, rate) share one encoder, and one that\n"
        "                      falls 2 s behind is disconnected\n"
        "  --resolutions LIST  e.g. 640*480,320*240,160*120\n"
        "  --type mpeg4|jpeg   video type the util query reports (default mpeg4)\n"
        "  --voice-out TEXT    voice_out value of the util query (default on)\n"
        "  --ptctrl on|off     pan/tilt head present (default on)\n"
        "  --ioctrl on|off     I/O control present (default off)\n"
        "  --zones-file PATH   keep the motion zones in this file\n"
        "  --zone-read-403     answer zone reads with the busy page\n"
        "  --zone-res N        resolution code that zone reads report (default 3)\n"
        "  --mjpeg-size WxH    Motion-JPEG picture size: 160x120, 160x128, 320x240 (default),\n"
        "                      640x480 or 704x480\n"
        "  --asf-size WxH      ASF (MPEG-4) picture size, the same choice (default 320x240)\n"
        "  --gop N             ASF pictures from one key frame to the next, 1 to 600 (default 30)\n"
        "  --fps N             pictures per second of a stream asked for without Speed=, 1 to 30\n"
        "                      (default 30)\n"
        "  --audio-bits N      audio G.726 bits per sample of both streams, 2 to 5; 0 for none\n"
        "                      (default 4)\n"
        "  --fault ENDPOINT:KIND[=VALUE]   delay=MS, hang, close=BYTES or status=CODE;\n"
        "                      for the streams also audio-delay=MS (the sound sent MS\n"
        "                      after its pictures), stream=DEFECT and after=PICTURES\n"
        "                      (default 2): for img/mjpeg.cgi DEFECT is one of close, stall,\n"
        "                      bad-tag, bad-type, bad-version, bad-offset, big-frame; for\n"
        "                      img/video.asf one of close, stall, audio-key, outside-object,\n"
        "                      fill-overflow, short-packet, big-header, big-packet; for both\n"
        "                      fuzz[:SEED], a hostile camera that damages every part of the\n"
        "                      stream, cuts and stalls it, differently on each connection;\n"
        "                      repeat --fault to combine kinds for one ENDPOINT, a path such as\n"
        "                      img/query.cgi or * for all\n"
        "  --tls-cert FILE     serve everything over TLS (https://) with this certificate,\n"
        "                      PEM, the camera's own first (a self-signed one will do)\n"
        "  --tls-key FILE      the certificate's private key, PEM, not encrypted\n"
        "  --seed N            the fuzz seed where --fault gives none (default: random); the\n"
        "                      seeds are printed, and connection K of an endpoint uses SEED+K\n"
        "  --help              this text\n",
        out);
}

// "W*H" sizes separated by commas, as the util query reports them.
bool ResolutionList(const std::string& list)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string item = list.substr(start, comma - start);
        const size_t star = item.find('*');
        if (star == std::string::npos || star == 0 || star + 1 == item.size() ||
            item.find_first_not_of("0123456789*") != std::string::npos ||
            item.find('*', star + 1) != std::string::npos)
            return false;
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// The HTTP library binds with SO_REUSEPORT, which would let a second camera share a port that
// another program listens on; a plain bind tells. It also fails on what a killed camera left
// (its clients' connections, closing), so only a listener that takes a connection counts.
bool PortTaken(const std::string& host, int port)
{
    if (port == 0)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false; // the camera's own bind will say what is wrong
    bool taken = false;
    const int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (fd >= 0) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        taken = ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 && errno == EADDRINUSE;
        ::close(fd);
    }
    if (taken) {
        const int probe = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        taken = probe >= 0 && ::connect(probe, found->ai_addr, found->ai_addrlen) == 0;
        if (probe >= 0)
            ::close(probe);
    }
    ::freeaddrinfo(found);
    return taken;
}

bool ParseCount(const char* text, int low, int high, int& out)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high)
        return false;
    out = int(v);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    camsim::Config config;
    config.streamDate = true; // the clock is the host's
    std::string host = "127.0.0.1";
    int port = 8080;
    std::vector<std::pair<std::string, camsim::Fault>> faults;
    std::optional<uint64_t> seed;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "camsim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--port") {
            if (!ParseCount(value(), 0, 65535, port)) {
                std::fprintf(stderr, "camsim: bad port\n");
                return 2;
            }
        } else if (arg == "--host") {
            host = value();
        } else if (arg == "--user") {
            config.user = value();
        } else if (arg == "--password") {
            config.password = value();
        } else if (arg == "--auth") {
            std::string scheme = value();
            if (scheme == "any")
                config.auth = camsim::AuthScheme::Any;
            else if (scheme == "basic")
                config.auth = camsim::AuthScheme::Basic;
            else if (scheme == "digest")
                config.auth = camsim::AuthScheme::Digest;
            else {
                std::fprintf(stderr, "camsim: --auth takes any, basic or digest\n");
                return 2;
            }
        } else if (arg == "--max-users") {
            if (!ParseCount(value(), 0, 1000, config.maxUsers)) {
                std::fprintf(stderr, "camsim: bad --max-users\n");
                return 2;
            }
        } else if (arg == "--resolutions") {
            config.resolutions = value();
            if (!ResolutionList(config.resolutions)) {
                std::fprintf(stderr, "camsim: --resolutions takes sizes such as 640*480,320*240\n");
                return 2;
            }
        } else if (arg == "--type") {
            config.videoType = value();
            if (config.videoType != "mpeg4" && config.videoType != "jpeg") {
                std::fprintf(stderr, "camsim: --type takes mpeg4 or jpeg\n");
                return 2;
            }
        } else if (arg == "--voice-out") {
            config.voiceOut = value();
            if (config.voiceOut.find_first_of("\r\n") != std::string::npos) {
                std::fprintf(stderr, "camsim: --voice-out takes one line\n");
                return 2;
            }
        } else if (arg == "--ptctrl" || arg == "--ioctrl") {
            std::string& target = arg == "--ptctrl" ? config.ptctrl : config.ioctrl;
            target = value();
            if (target != "on" && target != "off") {
                std::fprintf(stderr, "camsim: %s takes on or off\n", arg.c_str());
                return 2;
            }
        } else if (arg == "--zones-file") {
            config.zonesFile = value();
        } else if (arg == "--zone-read-403") {
            config.zoneRead403 = true;
        } else if (arg == "--zone-res") {
            if (!ParseCount(value(), INT_MIN, INT_MAX, config.zoneResolution)) {
                std::fprintf(stderr, "camsim: bad --zone-res\n");
                return 2;
            }
        } else if (arg == "--mjpeg-size") {
            int width = 0, height = 0;
            config.mjpegSize = value();
            if (!camsim::ParseMJpegSize(config.mjpegSize, width, height)) {
                std::fprintf(stderr, "camsim: bad --mjpeg-size\n");
                return 2;
            }
        } else if (arg == "--asf-size") {
            int width = 0, height = 0;
            config.asfSize = value();
            if (!camsim::ParseMJpegSize(config.asfSize, width, height)) {
                std::fprintf(stderr, "camsim: bad --asf-size\n");
                return 2;
            }
        } else if (arg == "--gop") {
            if (!ParseCount(value(), 1, 600, config.gop)) {
                std::fprintf(stderr, "camsim: --gop takes 1 to 600\n");
                return 2;
            }
        } else if (arg == "--fps") {
            if (!ParseCount(value(), 1, 30, config.fps)) {
                std::fprintf(stderr, "camsim: --fps takes 1 to 30\n");
                return 2;
            }
        } else if (arg == "--audio-bits") {
            if (!ParseCount(value(), 0, 5, config.audioCodeSize) || config.audioCodeSize == 1) {
                std::fprintf(stderr, "camsim: --audio-bits takes 0 or 2 to 5\n");
                return 2;
            }
        } else if (arg == "--tls-cert") {
            config.tlsCert = value();
        } else if (arg == "--tls-key") {
            config.tlsKey = value();
        } else if (arg == "--seed") {
            const char* text = value();
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(text, &end, 10);
            if (end == text || *end != '\0' || errno != 0 || text[0] == '-') {
                std::fprintf(stderr, "camsim: bad --seed\n");
                return 2;
            }
            seed = n;
        } else if (arg == "--fault") {
            const std::string option = value();
            std::string endpoint;
            camsim::Fault parsed;
            if (!camsim::ParseFaultOption(option, endpoint, parsed)) {
                std::fprintf(stderr, "camsim: bad --fault (ENDPOINT:delay=MS|hang|close=N|status=N|"
                                     "stream=DEFECT|after=N|audio-delay=MS)\n");
                return 2;
            }
            // Later options for the same endpoint add to its fault.
            auto same = std::find_if(faults.begin(), faults.end(),
                                     [&](const auto& f) { return f.first == endpoint; });
            if (same == faults.end())
                same = faults.insert(faults.end(), {endpoint, camsim::Fault{}});
            camsim::ParseFaultOption(option, endpoint, same->second);
        } else {
            std::fprintf(stderr, "camsim: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // Block the stop signals before any thread starts, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (PortTaken(host, port)) {
        std::fprintf(stderr, "camsim: port %d on %s is in use by another program\n", port,
                     host.c_str());
        return 1;
    }
    if (config.tlsCert.empty() != config.tlsKey.empty()) {
        std::fprintf(stderr, "camsim: --tls-cert and --tls-key go together\n");
        return 2;
    }
    camsim::Camera camera(config);
    if (!camera.TlsReady()) {
        std::fprintf(stderr, "camsim: cannot serve TLS with certificate %s and key %s (not "
                             "readable, not PEM, or not a pair)\n",
                     config.tlsCert.c_str(), config.tlsKey.c_str());
        return 1;
    }
    for (auto& [endpoint, fault] : faults) {
        if (fault.stream == "fuzz" && !fault.seed)
            fault.seed = seed;
        camera.SetFault(endpoint, fault);
    }
    if (!camera.Start(host, port)) {
        std::fprintf(stderr, "camsim: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    std::printf("listening on %s\n", camera.BaseUrl().c_str());
    // So that a run that found something can be replayed with --seed.
    for (const auto& [endpoint, fault] : faults)
        if (const camsim::Fault set = camera.FaultFor(endpoint); set.stream == "fuzz")
            std::printf("fuzz seed %llu for %s\n", static_cast<unsigned long long>(*set.seed),
                        endpoint.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    camera.Stop();
    return 0;
}
