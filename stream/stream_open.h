#pragma once
// Opening a camera stream on a short-lived thread of its own, so that a camera that never
// answers costs a bounded wait: on time-out, or when the worker is asked to stop, the open is
// cancelled through the HTTP layer (which wakes it) and the thread joined.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace platform {
class HttpStream;
}

// The stream once the camera has answered (whatever its status), else nullptr. Credentials are
// set only when the user name is not empty; any length is used whole. What the open throws on its
// thread is rethrown here.
std::unique_ptr<platform::HttpStream> OpenStreamWithin(const std::string& url,
                                                       const std::string& user,
                                                       const std::string& password,
                                                       std::chrono::milliseconds limit,
                                                       const std::atomic<bool>& stop);
