#include "stream/stream_worker.h"

#include "platform/messages.h"
#include "platform/wait.h"

#include <cassert>

#include <pthread.h>

CStreamWorker::~CStreamWorker()
{
    // A derived destructor must have shut the thread down: its Run may use derived members.
    assert(!m_thread.joinable() || m_finished.load());
    if (m_thread.joinable())
        m_thread.join();
}

bool CStreamWorker::Start()
{
    if (!m_finished.load())
        return false;
    if (m_thread.joinable())
        m_thread.join(); // finished: at most posting its result
    m_stop = false;
    m_finished = false;
    m_thread = std::thread(StreamWorkerThreadProc, this);
    return true;
}

bool CStreamWorker::Stop(uint32_t timeoutMs)
{
    return Stop(timeoutMs, platform::BlockingWaiter());
}

bool CStreamWorker::Stop(uint32_t timeoutMs, platform::Waiter& waiter)
{
    m_stop = true;
    // Not cut short when the caller gives up: a worker left stopping would be nobody's to join.
    return waiter.WaitUntil([this] { return m_finished.load(); },
                            std::chrono::milliseconds(timeoutMs), false);
}

void CStreamWorker::Shutdown()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

int StreamWorkerThreadProc(CStreamWorker* worker)
{
    int result = worker->Run();
    worker->m_finished = true;
    if (result != 0)
        worker->OnError(result);
    return result;
}

void NameThisThread(const char* name)
{
    pthread_setname_np(pthread_self(), name);
}

void CPanelWorker::OnError(int code)
{
    if (m_panel)
        m_panel->Post(WM_PLAYER_RESULT, static_cast<uintptr_t>(code), 0);
}
