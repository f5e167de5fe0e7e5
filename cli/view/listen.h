// The viewer's connections: its own accept loop and workers around the HTTP
// library's request handling, so that every limit on what a client may
// send, and on how long it may take, is the server's own. The library reads
// header lines without counting them and times out each read, not the whole
// request, so a client feeding it a byte at a time or an endless header
// holds a worker or grows the process. Here each connection carries one
// request: its head is read whole, within a byte, line and time budget,
// before the library sees it, and the body and the answer have budgets too.
#ifndef CORVANE_VIEW_LISTEN_H
#define CORVANE_VIEW_LISTEN_H

#include <atomic>
#include <chrono>
#include <functional>

#include <httplib.h>

struct ViewLimits {
    size_t headBytes = 16384;                   // request line and headers together
    int headLines = 100;                        // request line and header lines
    size_t bodyBytes = 4096;                    // what the library may read past the head
    std::chrono::milliseconds readTime{5000};   // the whole request
    std::chrono::milliseconds writeTime{5000};  // the whole answer
    int workers = 16;
    int connections = 64;  // open at once; more are closed unanswered
};

class ViewHttpServer : public httplib::Server {
public:
    explicit ViewHttpServer(const ViewLimits &limits) : limits_(limits) {}
    // Listens on 127.0.0.1:port (0: a free port). The port, or -1.
    int Bind(int port);
    // Serves until `stop` returns true (asked every tenth of a second);
    // returns once every connection is closed.
    void Serve(const std::function<bool()> &stop);
    // Whether Serve is winding down: a handler waiting for its turn gives up.
    bool Stopping() const { return stopping_; }

private:
    void Handle(int fd, std::chrono::steady_clock::time_point accepted);
    ViewLimits limits_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0};
};

#endif
