#pragma once
// A loopback TCP server for client tests that need a peer misbehaving below HTTP: one that
// accepts and says nothing, sends part of a reply and stalls, or closes mid-body. Each accepted
// connection runs `script` on its own thread; Stop() wakes them all and joins.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class RawServer
{
public:
    class Connection
    {
    public:
        // Reads until the end of the request headers (and a Content-Length body); "" when the
        // peer closed or the server stops.
        std::string ReadRequest();
        bool Send(const std::string& bytes);
        // Blocks until the server stops or the peer closes.
        void Hold();
        bool Stopping() const { return m_server.m_stopping.load(); }

    private:
        friend class RawServer;
        Connection(RawServer& s, int fd) : m_server(s), m_fd(fd) {}
        RawServer& m_server;
        int m_fd;
    };
    using Script = std::function<void(Connection&)>;

    explicit RawServer(Script script);
    ~RawServer();
    int Port() const { return m_port; }
    std::string Url(const std::string& path = "") const;
    void Stop();
    int Accepted() const { return m_accepted.load(); }

private:
    void AcceptLoop();

    Script m_script;
    int m_listenFd = -1;
    int m_port = 0;
    int m_wakeFds[2] = {-1, -1}; // self-pipe: wakes every blocked poll on Stop
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::thread m_acceptor;
    std::mutex m_lock;
    std::vector<std::thread> m_workers; // guarded by m_lock
};

} // namespace testsupport
