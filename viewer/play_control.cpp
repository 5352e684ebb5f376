#include "viewer/play_control.h"

#include "platform/wait.h"
#include "stream/asf_player.h"
#include "stream/frame_chain.h"
#include "stream/mjpeg_player.h"

CPlayControl::CPlayControl(platform::MessageTarget& window, const PlayTimings& timings)
    : m_window(window), m_timings(timings)
{
}

void CPlayControl::Attach(const PlayWorkers& workers)
{
    m_workers.emplace(workers);
}

void CPlayControl::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_PLAYER_RESULT)
        lParam = intptr_t(m_run.load());
    m_window.Post(message, wParam, lParam);
}

void CPlayControl::HandOver(const std::string& asfUrl, const std::string& mjpegUrl,
                            const std::string& user, const std::string& password)
{
    // A finished client has left Run: its open and reader threads were joined, so nothing reads
    // these strings while they change.
    if (m_workers->asf.Finished())
        m_workers->asf.SetUrl(asfUrl, user, password);
    if (m_workers->mjpeg.Finished())
        m_workers->mjpeg.SetUrl(mjpegUrl, user, password);
}

bool CPlayControl::Running() const
{
    return !m_workers->asf.Finished() || !m_workers->mjpeg.Finished();
}

bool CPlayControl::Start(const PlayRequest& request)
{
    // The camera's answer may have changed the type while the other client still plays: two
    // clients would feed the same queues and painters.
    if (Running())
        return false;
    PlayWorkers& w = *m_workers;
    w.clock.Set(0);
    m_recordFileName = request.recordFileName;
    if (request.mpeg) {
        w.asf.SetRecord(request.record, request.recordFileName);
        w.asf.SetUrl(request.url, request.user, request.password);
        return w.asf.Start();
    }
    w.mjpeg.SetUrl(request.url, request.user, request.password);
    return w.mjpeg.Start();
}

void CPlayControl::Stop()
{
    Stop(platform::BlockingWaiter());
}

void CPlayControl::Stop(platform::Waiter& waiter)
{
    m_accepted = false;
    waiter.Sleep(m_timings.stopPlaySleep);
    PlayWorkers& w = *m_workers;
    bool ended = true;
    for (CStreamWorker* client :
         {static_cast<CStreamWorker*>(&w.asf), static_cast<CStreamWorker*>(&w.mjpeg)})
        if (!client->Finished())
            ended = client->Stop(m_timings.stopTimeoutMs, waiter) && ended;
    // A worker sets its finished flag before it posts its result. Joining the finished ones makes
    // every result of this run posted, and so stamped with it, before the run ends. Painters and
    // the audio player are only touched once no client can start them again.
    if (ended)
        for (CStreamWorker* worker :
             {static_cast<CStreamWorker*>(&w.asf), static_cast<CStreamWorker*>(&w.mjpeg),
              &w.mpegPainter, &w.mjpegPainter, &w.audio})
            if (worker->Finished())
                worker->Shutdown();
    ++m_run;
    m_accepted = true;
}

ResultAction CPlayControl::OnResult(int code, intptr_t run)
{
    m_results.push_back(code);
    if (m_results.size() > kResultHistory)
        m_results.pop_front();
    if (uint32_t(run) != m_run.load())
        return ResultAction::Ignore; // from a run that a stop ended
    if (code == kResultBusy)
        return ResultAction::Busy;
    return m_accepted ? ResultAction::Restart : ResultAction::Ignore;
}
