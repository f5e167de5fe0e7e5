// The viewer's accept loop, and each connection's one request within its
// budgets, handed to the HTTP library's request handling.
#include "cli/view/listen.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli/view/view.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on fd until the deadline, a tenth of a second at a time
// so that a stopping server (`stopping` may be null) is not kept waiting.
// false on timeout or stop.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::atomic<bool> *stopping)
{
    for (;;) {
        if (stopping && *stopping)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p = {fd, events, 0};
        const int n = poll(&p, 1, (int)std::min<long long>(left, 100));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// A short answer written by the server itself, before the library has the
// request: a head too large or too slow.
void Refuse(int fd, const char *status, const char *why)
{
    const std::string body = std::string("{\"error\":\"") + why + "\"}";
    const std::string text = std::string("HTTP/1.1 ") + status +
                             "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body;
    (void)!send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Closing a socket with unread bytes makes the kernel reset the connection,
// and a reset can overtake the answer on its way to the client: say that we
// are done, read what the client still sends for a moment, then close.
void LingeringClose(int fd)
{
    shutdown(fd, SHUT_WR);
    const auto until = Clock::now() + std::chrono::milliseconds(200);
    char sink[16384];
    size_t drained = 0;
    while (drained < (1u << 20) && WaitFor(fd, POLLIN, until, nullptr)) {
        const ssize_t n = recv(fd, sink, sizeof sink, 0);
        if (n <= 0)
            break;
        drained += (size_t)n;
    }
    close(fd);
}

// The request's head, read before the library sees it, then whatever the
// library reads past it, within the body and time budgets; the answer within
// its own time budget.
class Connection : public httplib::Stream {
public:
    Connection(int fd, std::string head, const ViewLimits &limits, Clock::time_point readDeadline,
               const std::atomic<bool> &stopping)
        : fd_(fd), buffered_(std::move(head)), limits_(limits), readDeadline_(readDeadline),
          stopping_(stopping)
    {
    }

    bool is_readable() const override
    {
        return at_ < buffered_.size() || WaitFor(fd_, POLLIN, readDeadline_, &stopping_);
    }
    bool is_writable() const override { return WaitFor(fd_, POLLOUT, WriteDeadline(), &stopping_); }
    ssize_t read(char *ptr, size_t size) override
    {
        if (at_ < buffered_.size()) {
            const size_t n = std::min(size, buffered_.size() - at_);
            std::memcpy(ptr, buffered_.data() + at_, n);
            at_ += n;
            return (ssize_t)n;
        }
        if (bodyRead_ >= limits_.bodyBytes || !WaitFor(fd_, POLLIN, readDeadline_, &stopping_))
            return -1;
        const ssize_t n = recv(fd_, ptr, std::min(size, limits_.bodyBytes - bodyRead_), 0);
        if (n > 0)
            bodyRead_ += (size_t)n;
        return n;
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        // Not blocking: a blocking send waits until all of it is queued,
        // however long a client that does not read takes.
        for (;;) {
            if (!WaitFor(fd_, POLLOUT, WriteDeadline(), &stopping_))
                return -1;
            const ssize_t n = send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0 || (errno != EAGAIN && errno != EINTR))
                return n;
        }
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override { Address(getpeername, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { Address(getsockname, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    // The answer's budget starts with its first byte: the run before it may
    // take as long as the module needs.
    Clock::time_point WriteDeadline() const
    {
        if (writeDeadline_ == Clock::time_point())
            writeDeadline_ = Clock::now() + limits_.writeTime;
        return writeDeadline_;
    }
    void Address(int (*get)(int, sockaddr *, socklen_t *), std::string &ip, int &port) const
    {
        sockaddr_in a = {};
        socklen_t length = sizeof a;
        char text[INET_ADDRSTRLEN] = "";
        if (get(fd_, reinterpret_cast<sockaddr *>(&a), &length) == 0 && a.sin_family == AF_INET)
            inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        ip = text;
        port = ntohs(a.sin_port);
    }

    int fd_;
    std::string buffered_;
    size_t at_ = 0;
    size_t bodyRead_ = 0;
    const ViewLimits &limits_;
    Clock::time_point readDeadline_;
    mutable Clock::time_point writeDeadline_{};
    const std::atomic<bool> &stopping_;
};

}  // namespace

int ViewHttpServer::Bind(int port)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return -1;
    const int yes = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listenFd_, 64) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &length) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return -1;
    }
    return ntohs(a.sin_port);
}

void ViewHttpServer::Serve(const std::function<bool()> &stop)
{
    httplib::ThreadPool pool((size_t)limits_.workers);
    while (!stop()) {
        pollfd p = {listenFd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (open_ >= limits_.connections) {
            close(fd);
            continue;
        }
        open_++;
        const auto accepted = Clock::now();
        pool.enqueue([this, fd, accepted] {
            Handle(fd, accepted);
            open_--;
        });
    }
    stopping_ = true;
    close(listenFd_);
    listenFd_ = -1;
    pool.shutdown();
}

void ViewHttpServer::Handle(int fd, std::chrono::steady_clock::time_point accepted)
{
    // The request's time runs from its connection, waiting for a worker
    // included: a crowd of slow clients cannot push a queued one's out.
    const auto readDeadline = accepted + limits_.readTime;
    std::string head;
    long length = 0;
    char chunk[4096];
    while ((length = ViewHeadLength(head, limits_.headBytes, limits_.headLines)) == 0) {
        if (!WaitFor(fd, POLLIN, readDeadline, &stopping_)) {
            if (!stopping_)
                Refuse(fd, "408 Request Timeout", "the request took too long to arrive");
            return LingeringClose(fd);
        }
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            close(fd);
            return;
        }
        head.append(chunk, (size_t)n);
    }
    if (length < 0) {
        Refuse(fd, "431 Request Header Fields Too Large", "the request's headers are too large");
        return LingeringClose(fd);
    }
    std::string status, why;
    if (ViewHeadRefused(head.substr(0, (size_t)length), &status, &why)) {
        Refuse(fd, status.c_str(), why.c_str());
        return LingeringClose(fd);
    }
    try {
        Connection connection(fd, std::move(head), limits_, readDeadline, stopping_);
        bool closed = false;
        process_request(connection, true, closed, nullptr);
    } catch (...) {
        // The library answers a handler's exception itself; whatever escapes
        // it (memory) ends only this connection.
    }
    LingeringClose(fd);
}
