#pragma once
// One live stream configuration (endpoint, picture size, rate) shared by every client asking for
// it, as a camera's single encoder serves all its viewers: the pictures are encoded once, on a
// thread of their own, and every client gets the same bytes.
//
// A client joins at the next step it can start from: the stream's header first, then a picture
// that needs no earlier one (the encoder is asked for a key picture at once, so nobody waits a
// whole group). Each client has its own queue; a client more than kMaxQueuedSteps or
// kMaxQueuedBytes behind is cut off, as a camera drops a viewer it cannot keep up with rather than
// hold the others back or buffer without end. The encoder stops when its last client goes.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

class Camera;

using SharedBytes = std::shared_ptr<const std::string>;

class SharedStream
{
public:
    static constexpr size_t kMaxQueuedSteps = 50; // two seconds at 25 pictures/s
    static constexpr size_t kMaxQueuedBytes = size_t(4) << 20;

    virtual ~SharedStream();
    SharedStream(const SharedStream&) = delete;
    SharedStream& operator=(const SharedStream&) = delete;

protected:
    explicit SharedStream(Camera& camera) : m_camera(camera) {}

    // What goes out before the first step to each client, once; set by the derived constructor.
    void SetHeader(std::string header);
    // The next step's bytes, made once they are due; false when the stream is closing.
    // `entry`: a client may start with this step.
    virtual bool Produce(std::string& out, bool& entry) = 0;
    // A client waits to join: the next picture should be one it can start from.
    virtual void WantEntry() {}
    // Waits up to `ms`; true once the stream closes or the camera stops.
    bool WaitClosing(int ms);
    // Closes and joins the thread; the derived destructor calls it, as the thread runs Produce.
    void Finish();
    Camera& GetCamera() { return m_camera; }

private:
    friend class SharedStreams;
    friend class SharedClient;
    struct Queue
    {
        std::deque<SharedBytes> steps;
        size_t bytes = 0;
        bool joined = false;
        bool cutOff = false;
    };

    void Run();
    void Publish(SharedBytes step, bool entry);

    Camera& m_camera;
    SharedBytes m_header;
    std::thread m_thread;
    // Guarded by m_mutex: the clients' queues and the end flags.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Queue*> m_queues;
    bool m_closing = false;
    bool m_ended = false; // the encoder failed or stopped
};

// One client's view of a shared stream; leaving it (destruction) may stop the encoder.
class SharedClient
{
public:
    ~SharedClient();
    SharedClient(const SharedClient&) = delete;
    SharedClient& operator=(const SharedClient&) = delete;

    // The next bytes to send, waiting for them; false once the client is cut off, the stream
    // ended or the camera stops.
    bool Next(SharedBytes& out);
    bool CutOff() const;

private:
    friend class SharedStreams;
    SharedClient(class SharedStreams& owner, std::string key, std::shared_ptr<SharedStream> stream);

    class SharedStreams& m_owner;
    std::string m_key;
    std::shared_ptr<SharedStream> m_stream;
    SharedStream::Queue m_queue; // guarded by the stream's mutex
    bool m_headerSent = false;   // only the serving thread
};

// The camera's running shared streams, by configuration.
class SharedStreams
{
public:
    explicit SharedStreams(Camera& camera) : m_camera(camera) {}
    ~SharedStreams();

    using Maker = std::function<std::unique_ptr<SharedStream>()>;
    // Joins the stream of `key`, started with `make` when none runs. `make` may throw.
    std::unique_ptr<SharedClient> Join(const std::string& key, const Maker& make);
    // Wakes every stream and client: the camera stops.
    void Stop();

    int Running() const;
    uint64_t Started() const { return m_started.load(); }

private:
    friend class SharedClient;
    void Leave(SharedClient& client);

    Camera& m_camera;
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<SharedStream>> m_streams; // guarded by m_mutex
    std::atomic<uint64_t> m_started{0};
};

} // namespace camsim
