#include "tests/support/raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace testsupport {

RawServer::RawServer(Script script) : m_script(std::move(script))
{
    if (::pipe(m_wakeFds) != 0)
        throw std::runtime_error("pipe");
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) ||
        ::listen(m_listenFd, 16))
        throw std::runtime_error("listen");
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

RawServer::~RawServer()
{
    Stop();
    ::close(m_wakeFds[0]);
    ::close(m_wakeFds[1]);
}

std::string RawServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
}

void RawServer::Stop()
{
    if (m_stopping.exchange(true))
        return;
    char c = 1;
    (void)!::write(m_wakeFds[1], &c, 1);
    m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_lock);
        workers.swap(m_workers);
    }
    for (auto& t : workers)
        t.join();
    ::close(m_listenFd);
}

void RawServer::AcceptLoop()
{
    while (!m_stopping.load()) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents)
            continue;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_accepted;
        std::lock_guard lock(m_lock);
        m_workers.emplace_back([this, fd] {
            Connection c(*this, fd);
            m_script(c);
            ::close(fd);
        });
    }
}

std::string RawServer::Connection::ReadRequest()
{
    std::string data;
    size_t need = std::string::npos;
    while (!Stopping()) {
        size_t headerEnd = data.find("\r\n\r\n");
        if (headerEnd != std::string::npos && need == std::string::npos) {
            need = headerEnd + 4;
            const char* key = "Content-Length:";
            size_t k = data.find(key);
            if (k != std::string::npos && k < headerEnd)
                need += std::strtoul(data.c_str() + k + std::strlen(key), nullptr, 10);
        }
        if (need != std::string::npos && data.size() >= need)
            return data;
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_server.m_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents)
            break;
        char buf[4096];
        ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        data.append(buf, static_cast<size_t>(n));
    }
    return "";
}

bool RawServer::Connection::Send(const std::string& bytes)
{
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

void RawServer::Connection::Hold()
{
    while (!Stopping()) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_server.m_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents)
            return;
        char buf[512];
        if (::recv(m_fd, buf, sizeof buf, 0) <= 0)
            return;
    }
}

} // namespace testsupport
