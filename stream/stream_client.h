#pragma once
// What both stream clients share: the camera URL and credentials, the diagnostic text of the last
// failure, and ending a run through the client's own stop procedure.

#include "stream/stream_worker.h"

#include <string>

class CStreamClient : public CPanelWorker
{
public:
    using CPanelWorker::CPanelWorker;

    // Only while the client is idle.
    void SetUrl(const std::string& url, const std::string& user, const std::string& password)
    {
        m_url = url;
        m_user = user;
        m_password = password;
    }

    // Diagnostic text of the last failure; read it once the worker has finished.
    const std::string& LastMessage() const { return m_lastMessage; }

protected:
    virtual void StopProcedure() = 0;

    // Runs the stop procedure and gives the run's result.
    int Fail(int code, std::string message)
    {
        m_lastMessage = std::move(message);
        StopProcedure();
        return code;
    }
    // A connect that failed: quietly when a stop ended it, else "Connect error".
    int ConnectFailed() { return m_stop ? Fail(kResultOk, {}) : Fail(kResultConnect, "Connect error"); }

    std::string m_url, m_user, m_password;
    std::string m_lastMessage;
};
