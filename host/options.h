#pragma once
// camhost's command line: what to run and every option, checked before anything starts.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace host {

// The exit codes camhost documents in --help. A run ends with one of the failure codes when a
// failure ended it: it waits for the user, or the time limit found the control failing.
enum ExitCode : int {
    kExitOk = 0,
    kExitError = 1,            // module not registered, no display, cannot write a file...
    kExitUsage = 2,            // bad command line, or a zones file camhost cannot take
    kExitBadUrl = 3,           // wrong URL form
    kExitNothingListening = 4, // no camera at that address (connection refused, unknown host)
    kExitNoAnswer = 5,         // connected, but no answer in time
    kExitRefused = 6,          // the server closed or refused the connection
    kExitLoginRefused = 7,     // wrong user name or password
    kExitLoginCancelled = 8,   // the login was cancelled, or offscreen without credentials
    kExitBusy = 9,             // the camera is busy (too many users)
    kExitNotACamera = 10,      // something answers, but not as a camera
    kExitUntrusted = 11,       // https: the camera's certificate failed verification
};

struct Options
{
    // "vuelo", "mozon", "wall", "register", "unregister", or a tool: "probe", "snapshot", "record",
    // "zones", "ptz"
    std::string command;
    std::string url;
    std::string type; // "jpeg" or "mpeg"; empty: from the URL, else jpeg
    std::string panTilt = "on";
    std::string rate;
    int size = 0;
    bool demo = false;
    bool offscreen = false;
    double seconds = 0; // 0: no limit
    double retry = -1;  // seconds; -1: the default (5 in a window, off offscreen)
    std::string screenshot;
    bool stats = false;
    bool overlay = false;
    bool verbose = false;
    std::string cameraType = "mpeg4"; // what the demo's camera answers in its util query
    std::string moduleFile;           // register / unregister
    std::string user;
    std::string passwordFile;
    std::string cacert; // certificates to trust besides the system's, for https cameras
    // The tools.
    std::string output;         // snapshot, record: -o FILE
    double timeout = 30;        // seconds the camera may take to answer (snapshot: the picture)
    std::string zonesAction;    // zones: "get" or "set"
    std::string zonesFile;      // zones set
    int atX = -1, atY = -1;     // ptz: the click, in picture coordinates
    int pictureWidth = 0, pictureHeight = 0; // ptz: the picture's size; 0 asks the stream
    // The camera wall.
    std::vector<std::string> urls;
    std::string urlFile; // --file: one URL a line
};

// The headless commands: no window, JSON on stdout.
bool IsToolCommand(const std::string& command);

struct ParseResult
{
    enum What { Run, Help, Version, Error } what = Run;
    std::string error; // for Error: one line, without the program name
};

// Paths are made absolute here, before anything (the viewer's Folder button) can change the
// working directory.
ParseResult ParseCommandLine(const std::vector<std::string>& args, Options& options);

// What --retry and --seconds make of a windowed run: the reload delay (0: none) and the time
// limit of the whole run, if any.
std::chrono::milliseconds RetryDelay(const Options& options);
std::optional<std::chrono::milliseconds> RunLimit(const Options& options);

std::string UsageText();
std::string VersionText();

} // namespace host
