#pragma once
// The tools' use of the live stream: the stream clients the controls use, fed to small catchers
// in place of the painters, for the stream's picture size, its next whole picture, or a
// recording of the ASF stream through the client's record file.

#include "host/tool_session.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class CImageHolder;

namespace host {

enum class CatchUntil {
    Size,    // the stream has told its picture size
    Picture, // a whole picture has decoded
};

struct StreamCatch
{
    int width = 0, height = 0;             // as the stream declares them
    std::unique_ptr<CImageHolder> picture; // Picture: 24-bit, or 8-bit grey from a grey JPEG
    uint64_t undecodable = 0;              // pictures that came but did not decode
};

// Runs the stream at `url` (`type` "mpeg": ASF, else Motion-JPEG) with the session's
// credentials until it gives what is asked, fails, `within` has passed or a stop is asked.
ToolOutcome CatchStream(CameraSession& session, const std::string& url, const std::string& type,
                        CatchUntil until, std::chrono::milliseconds within, StreamCatch& out);

struct Recording
{
    double seconds = 0; // from the first byte recorded
    uint64_t bytes = 0;
    bool complete = false; // the whole length was recorded
    bool kept = false;     // the file was written (it holds at least one data packet)
};

// Records the ASF stream at `url` for `length` into `file` through the client's record file;
// whatever was recorded before a failure or a stop is kept when it holds a data packet.
// `progress` shows the time recorded on stderr as it goes.
ToolOutcome RecordStream(CameraSession& session, const std::string& url,
                         std::chrono::milliseconds length, const std::string& file, bool progress,
                         Recording& out);

} // namespace host
