#include "host/tools.h"

#include "codec/image_holder.h"
#include "host/camera_address.h"
#include "host/request_log.h"
#include "host/supervisor.h"
#include "host/tool_session.h"
#include "host/tool_stream.h"
#include "host/tool_zones.h"
#include "viewer/camera_query.h"
#include "viewer/paint_step.h"
#include "viewer/pan_tilt_aim.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

namespace host {

namespace {

using Json = nlohmann::ordered_json;
using std::chrono::milliseconds;

void Say(const std::string& line)
{
    std::fprintf(stderr, "camhost: %s\n", line.c_str());
}

void Print(const Json& out)
{
    // A camera's texts need not be UTF-8.
    const std::string text = out.dump(2, ' ', false, Json::error_handler_t::replace);
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

Json Value(const std::optional<std::string>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

struct Tool
{
    const Options& o;
    const CameraAddress& address;
    CameraSession& session;
    CameraUrls urls;
    Json out;
};

// The frame type the viewer plays after the util query: its "type=", else the URL's.
ToolOutcome StreamType(Tool& t, std::string& type, std::string* reply = nullptr)
{
    std::string text;
    if (ToolOutcome o = t.session.Get(t.urls.utilQuery, text); o.Failed())
        return o;
    if (IsAuthorizationPage(text))
        return t.session.LoginFailed("the util query");
    const auto said = QueryValue(text, "type=");
    type = said ? (*said == "mpeg4" ? "mpeg" : "jpeg") : t.address.type;
    if (reply)
        *reply = text;
    return ToolOutcome::Ok();
}

std::string StreamUrl(const Tool& t, const std::string& type)
{
    return type == "mpeg" ? t.urls.asfStream : t.urls.mjpegStream;
}

ToolOutcome Probe(Tool& t)
{
    LoginAnswer login;
    const ToolOutcome logged = t.session.LogIn(t.urls.imageQuery, login);
    if (login.state.empty())
        return logged; // nothing answered
    t.out["camera"] = t.address.shown;
    t.out["wants_credentials"] = login.wantsCredentials;
    t.out["login"] = login.state;
    for (const char* key : {"ptctrl", "ioctrl", "type", "voice_out", "resolutions"})
        t.out[key] = nullptr;
    t.out["sizes"] = Json::array();
    t.out["stream"] = nullptr;
    if (logged.Failed())
        return logged;
    t.out["ptctrl"] = Value(QueryValue(login.reply, "ptctrl="));
    t.out["ioctrl"] = Value(QueryValue(login.reply, "ioctrl="));

    std::string type, util;
    if (ToolOutcome o = StreamType(t, type, &util); o.Failed())
        return o;
    t.out["type"] = Value(QueryValue(util, "type="));
    t.out["voice_out"] = Value(QueryValue(util, "voice_out="));
    const auto resolutions = QueryValue(util, "resolutions=");
    t.out["resolutions"] = Value(resolutions);
    if (resolutions)
        t.out["sizes"] = ResolutionEntries(*resolutions);
    t.out["stream"] = StreamUrl(t, type);
    return ToolOutcome::Ok();
}

ToolOutcome Snapshot(Tool& t)
{
    LoginAnswer login;
    std::string type;
    if (ToolOutcome o = t.session.LogIn(t.urls.imageQuery, login); o.Failed())
        return o;
    if (ToolOutcome o = StreamType(t, type); o.Failed())
        return o;
    StreamCatch caught;
    if (ToolOutcome o = CatchStream(t.session, StreamUrl(t, type), type, CatchUntil::Picture,
                                    t.session.Timeout(), caught);
        o.Failed())
        return o;

    PendingFile file(t.o.output);
    std::string why;
    if (!file.Create(why))
        return ToolOutcome::Error(kExitError, why);
    if (!caught.picture->SaveToFile(file.Temporary().c_str(), FormatJpeg))
        return ToolOutcome::Error(kExitError, "cannot write " + t.o.output + " (" +
                                                  caught.picture->GetLastError() + ")");
    if (!file.Commit(why))
        return ToolOutcome::Error(kExitError, why);
    t.out["file"] = t.o.output;
    t.out["width"] = caught.picture->GetWidth();
    t.out["height"] = caught.picture->GetHeight();
    t.out["type"] = type;
    t.out["stream"] = StreamUrl(t, type);
    return ToolOutcome::Ok();
}

ToolOutcome Record(Tool& t)
{
    LoginAnswer login;
    if (ToolOutcome o = t.session.LogIn(t.urls.imageQuery, login); o.Failed())
        return o;
    Recording recording;
    const auto length = milliseconds(std::llround(t.o.seconds * 1000));
    ToolOutcome outcome = RecordStream(t.session, t.urls.asfStream, length, t.o.output,
                                       ::isatty(STDERR_FILENO) == 1, recording);
    if (recording.kept) {
        t.out["file"] = t.o.output;
        t.out["seconds"] = std::round(recording.seconds * 10) / 10;
        t.out["bytes"] = recording.bytes;
        t.out["complete"] = recording.complete;
        t.out["stream"] = t.urls.asfStream;
    }
    if (outcome.Failed() && recording.kept)
        outcome.line += "; what came is in " + t.o.output;
    return outcome;
}

// The zone protocol's read, its login prompt answered once from the given credentials.
ToolOutcome ReadZones(Tool& t, CZoneProtocol& protocol, const std::string& url,
                      MotionAreaConfig& config)
{
    int prompts = 0;
    const auto prompt = [&](std::string& user, std::string& password) {
        if (++prompts > 1 || !t.session.Given().Given())
            return false;
        user = t.session.Given().user;
        password = t.session.Given().password;
        return true;
    };
    t.session.Mark();
    switch (protocol.Read(config, prompt)) {
    case ZoneOutcome::Ok:
        if (!protocol.LastReadHeldZones())
            return ToolOutcome::Of(Failure::NotACamera, t.session.Shown(),
                                   "the zone read's reply names no zone");
        return ToolOutcome::Ok();
    case ZoneOutcome::Busy:
        return ToolOutcome::Of(Failure::Busy, t.session.Shown(), {});
    case ZoneOutcome::Refused:
        return t.session.LoginFailed();
    default:
        return t.session.RequestFailed(url, 0, false);
    }
}

// As the control does when it lets the camera go; a camera that does not hear it is only said.
void ReleaseZones(Tool& t, CZoneProtocol& protocol)
{
    if (protocol.Release() == ZoneOutcome::ConnectFailed)
        Say("the release command did not reach " + t.session.Shown());
}

ToolOutcome Zones(Tool& t, const ZoneEdits& edits)
{
    const std::string url = t.address.controlUrl + "/ocxparser.cgi";
    CZoneProtocol protocol(url, t.session.Poster());
    MotionAreaConfig camera;
    if (ToolOutcome o = ReadZones(t, protocol, url, camera); o.Failed())
        return o;
    MotionAreaConfig kept = camera;
    if (t.o.zonesAction == "set") {
        MotionAreaConfig sent;
        std::string why;
        if (!ApplyZoneEdits(camera, edits, sent, why)) {
            ReleaseZones(t, protocol);
            return ToolOutcome::Error(kExitUsage, t.o.zonesFile + ": " + why);
        }
        t.session.Mark();
        const ZoneOutcome saved =
            protocol.Save(ZoneSaveBody(sent, protocol.LastReadResolution()));
        if (saved == ZoneOutcome::ConnectFailed)
            return t.session.RequestFailed(url, 0, false);
        if (saved != ZoneOutcome::Ok) {
            ReleaseZones(t, protocol);
            return ToolOutcome::Error(kExitError, t.session.Shown() +
                                                      " did not take the zones (no \"MOT: OK\" "
                                                      "in its reply)");
        }
        if (ToolOutcome o = ReadZones(t, protocol, url, kept); o.Failed())
            return o;
        for (const std::string& line : ZoneDifferences(sent, kept))
            Say(line);
    }
    ReleaseZones(t, protocol);
    t.out["camera"] = t.session.Shown();
    t.out.update(ZonesJson(kept));
    return ToolOutcome::Ok();
}

ToolOutcome Ptz(Tool& t)
{
    LoginAnswer login;
    if (ToolOutcome o = t.session.LogIn(t.urls.imageQuery, login); o.Failed())
        return o;
    // The page's pan/tilt setting is on unless the camera says otherwise.
    const std::string ptctrl = QueryValue(login.reply, "ptctrl=").value_or("on");
    if (ptctrl != "on")
        return ToolOutcome::Error(kExitError, t.session.Shown() + " has no pan/tilt head (ptctrl=" +
                                                  ptctrl + "): the viewer sends nothing");
    int width = t.o.pictureWidth, height = t.o.pictureHeight;
    if (width == 0) {
        // The viewer knows the size from its stream; so does this.
        std::string type;
        if (ToolOutcome o = StreamType(t, type); o.Failed())
            return o;
        StreamCatch caught;
        if (ToolOutcome o = CatchStream(t.session, StreamUrl(t, type), type, CatchUntil::Size,
                                        t.session.Timeout(), caught);
            o.Failed())
            return o;
        width = caught.width;
        height = caught.height;
    }
    // The viewer takes clicks on the picture's edges too.
    if (t.o.atX > width || t.o.atY > height)
        return ToolOutcome::Error(kExitUsage, "--at " + std::to_string(t.o.atX) + "," +
                                                  std::to_string(t.o.atY) + " lies outside the " +
                                                  std::to_string(width) + "x" +
                                                  std::to_string(height) + " picture");
    PanTiltView view;
    view.pictureWidth = view.displayWidth = width;
    view.pictureHeight = view.displayHeight = height;
    const auto offset = PanTiltOffsetForClick(view, t.o.atX + kVideoLeft, t.o.atY + kVideoTop);
    if (!offset)
        return ToolOutcome::Error(kExitUsage, "--at does not lie on the picture");
    const std::string command = PanTiltCommand(t.urls.panTilt, *offset);
    std::string reply;
    if (ToolOutcome o = t.session.Get(command, reply); o.Failed())
        return o;
    if (IsAuthorizationPage(reply))
        return t.session.LoginFailed("the pan/tilt command");
    t.out["command"] = command;
    t.out["h"] = offset->h;
    t.out["v"] = offset->v;
    t.out["at"] = {t.o.atX, t.o.atY};
    t.out["picture"] = {width, height};
    t.out["reply"] = reply;
    return ToolOutcome::Ok();
}

bool ReadZonesFile(const std::string& name, ZoneEdits& edits)
{
    std::string text;
    if (name == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(name, std::ios::binary);
        if (!in) {
            Say("cannot read " + name);
            return false;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::string why;
    if (!ParseZonesFile(text, edits, why)) {
        Say((name == "-" ? std::string("standard input") : name) + ": " + why);
        return false;
    }
    return true;
}

} // namespace

int RunTool(const Options& o)
{
    CameraAddress address;
    std::string why;
    const bool zones = o.command == "zones";
    if (!(zones ? ZoneAddress(o.url, address, why) : ViewerAddress(o.url, "", address, why))) {
        Say("wrong URL form: " + why);
        return kExitBadUrl;
    }
    Credentials credentials;
    credentials.user = !o.user.empty() ? o.user : address.user;
    if (!ReadPassword(o, credentials, why)) {
        Say(why);
        return kExitUsage;
    }
    // What can be refused without the camera is refused before it is asked anything.
    ZoneEdits edits;
    if (zones && o.zonesAction == "set" && !ReadZonesFile(o.zonesFile, edits))
        return kExitUsage;
    if (!o.output.empty() && !CanWriteBeside(o.output, why)) {
        Say(why);
        return kExitError;
    }

    RequestLog log;
    if (o.verbose)
        log.SetEcho([](const std::string& line) { Say(line); });
    const bool traced = log.Open();
    if (!traced && o.verbose)
        Say("no request trace; failures are told apart less well");

    std::atomic<bool> stop{false};
    Supervisor::Hooks hooks;
    hooks.askToEnd = [&stop] { stop = true; };
    hooks.exitCode = [] { return int(kExitError); };
    hooks.whyBlocked = [&address] { return "still waiting for " + address.shown; };
    hooks.cleanUp = [] { PendingFile::RemoveLeftovers(); };
    Supervisor supervisor(std::nullopt, hooks);

    CameraSession::Settings settings;
    settings.shown = address.shown;
    settings.given = credentials;
    settings.timeout = milliseconds(std::llround(o.timeout * 1000));
    settings.log = traced ? &log : nullptr;
    settings.stop = &stop;
    settings.stopSeen = [&supervisor] { supervisor.LoopEnded(); };
    CameraSession session(settings);

    Tool tool{o, address, session, BuildCameraUrls(address.shown + "img/mjpeg.cgi", "jpeg"), {}};
    ToolOutcome outcome;
    if (o.command == "probe")
        outcome = Probe(tool);
    else if (o.command == "snapshot")
        outcome = Snapshot(tool);
    else if (o.command == "record")
        outcome = Record(tool);
    else if (zones)
        outcome = Zones(tool, edits);
    else
        outcome = Ptz(tool);
    supervisor.LoopEnded();

    if (!tool.out.is_null())
        Print(tool.out);
    if (const int signal = supervisor.Signal())
        return 128 + signal;
    if (outcome.Failed()) {
        Say(outcome.line);
        return outcome.code;
    }
    return kExitOk;
}

} // namespace host
