#include "stream/stream_open.h"

#include "platform/event.h"
#include "platform/http.h"
#include "stream/stream_worker.h"

#include <algorithm>
#include <exception>
#include <thread>

std::unique_ptr<platform::HttpStream> OpenStreamWithin(const std::string& url,
                                                       const std::string& user,
                                                       const std::string& password,
                                                       std::chrono::milliseconds limit,
                                                       const std::atomic<bool>& stop)
{
    constexpr auto kSlice = std::chrono::milliseconds(50);
    platform::HttpRequest request;
    request.url = url;
    if (!user.empty()) {
        request.user = user;
        request.password = password;
    }
    auto stream = std::make_unique<platform::HttpStream>(std::move(request));

    platform::AutoResetEvent opened;
    std::atomic<bool> answered{false};
    platform::HttpStream* raw = stream.get();
    std::exception_ptr failure; // written before the signal, read after the join
    std::thread opener([&] {
        NameThisThread("stream-open");
        try {
            answered = raw->Open();
        } catch (...) {
            failure = std::current_exception();
        }
        opened.Set();
    });
    bool done = false;
    for (auto waited = std::chrono::milliseconds(0); waited < limit && !stop; waited += kSlice) {
        if (opened.Wait(std::min(kSlice, limit - waited)) == platform::WaitResult::Signalled) {
            done = true;
            break;
        }
    }
    if (!done)
        raw->Cancel();
    opener.join();
    // The worker's Run maps it to its result code, as for its own failures.
    if (failure)
        std::rethrow_exception(failure);
    if (!done || !answered)
        return nullptr;
    return stream;
}
