#pragma once
// Base of every worker object: stream clients, painters, the audio player. A worker runs on a
// thread of its own from Start until its Run returns; Stop raises the stop flag and waits for the
// end with a time-out, and never kills the thread.
//
// The worker owns its thread. The thread is joined before a new one starts and before the worker
// is destroyed (derived destructors call Shutdown first), so nothing a running Run uses is freed
// under it.

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

namespace platform {
class MessageTarget;
class Waiter;
}

// Window messages that workers post to their panel.
inline constexpr uint32_t WM_PLAYER_RESULT = 0x1B00; // wParam: result code
inline constexpr uint32_t WM_VIDEO_READY = 0x1B01;
inline constexpr uint32_t WM_AUDIO_READY = 0x1B02;

// A worker's Run result, and the wParam of WM_PLAYER_RESULT.
enum PlayerResult : int {
    kResultOk = 0,
    kResultMemory = 100,
    kResultConnect = 200,
    kResultCredentials = 300,
    kResultBusy = 310,
    kResultRead = 400,
    kResultStreamNumber = 420,
    kResultMalformed = 430,
    kResultFile = 500,
    kResultOther = 800,
};

// The error record thrown inside a client: a diagnostic message and the result code.
class CPlayerException : public std::exception
{
public:
    CPlayerException(int code, std::string message) : m_message(std::move(message)), m_code(code)
    {
    }
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const { return m_message; }
    int Code() const { return m_code; }

private:
    std::string m_message;
    int m_code;
};

// The Motion-JPEG client's own kind, with the same members.
class CMJpegPlayerException : public CPlayerException
{
public:
    using CPlayerException::CPlayerException;
};

class CStreamWorker
{
public:
    CStreamWorker() = default;
    virtual ~CStreamWorker();
    CStreamWorker(const CStreamWorker&) = delete;
    CStreamWorker& operator=(const CStreamWorker&) = delete;

    virtual int Run() = 0;
    virtual void OnError(int code) = 0;

    // Starts Run on a new thread; does nothing and returns false while a thread still runs it.
    bool Start();
    // Raises the stop flag and waits until Run has returned or `timeoutMs` passed, through
    // `waiter` (by default blocking, polling every 1 ms); a waiter that gives up does not cut it
    // short. True when the worker finished.
    bool Stop(uint32_t timeoutMs);
    bool Stop(uint32_t timeoutMs, platform::Waiter& waiter);
    // Stops without a time-out and joins the thread; for owners about to free the worker.
    void Shutdown();

    bool Finished() const { return m_finished.load(); }
    bool StopRequested() const { return m_stop.load(); }

protected:
    std::atomic<bool> m_finished{true};
    std::atomic<bool> m_stop{false};

private:
    friend int StreamWorkerThreadProc(CStreamWorker* worker);
    std::thread m_thread;
};

// What a worker's thread runs: Run, then the finished flag, then OnError for a non-zero result.
// Start has cleared the stop and finished flags before the thread began, so a Stop that comes
// right after Start is never lost.
int StreamWorkerThreadProc(CStreamWorker* worker);

// Names the calling thread (15 characters at most) as debuggers and sanitizer reports show it.
void NameThisThread(const char* name);

// Worker that reports its result to a panel window: WM_PLAYER_RESULT with the code.
class CPanelWorker : public CStreamWorker
{
public:
    explicit CPanelWorker(platform::MessageTarget* panel) : m_panel(panel) {}
    void OnError(int code) override;
    void SetPanel(platform::MessageTarget* panel) { m_panel = panel; }

protected:
    platform::MessageTarget* m_panel;
};
