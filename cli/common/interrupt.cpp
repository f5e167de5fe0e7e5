// Ctrl-C. The first one is recorded and reaches the module through the
// monitor, which reports one abort at its next step: the module then ends
// that phase and goes on with the next, as it does when a user presses Abort
// in a host. The second one ends the program at once, and so does the first
// after a short grace when the run has said it will write nothing of an
// interrupted run (see InterruptEndsRun).
#include "cli/common/common.h"

#include <errno.h>
#include <semaphore.h>
#include <time.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> g_interrupts{0};
// Held in fixed buffers: the handler may only read them, not allocate.
char g_tempFile[4096];
std::atomic<bool> g_haveTempFile{false};
char g_endMessage[4200];
std::atomic<bool> g_endArmed{false};
// The handler wakes the thread that ends the run; a semaphore is what a
// handler may post.
sem_t g_wake;
std::atomic<bool> g_endThread{false};

// How long the first Ctrl-C waits for the program to end by itself: the
// module answers at its next monitor step, which on a large mesh can be
// seconds away (the weld before the flush, and what a pass indexes before
// its first step, poll no monitor).
const long kGraceNs = 60L * 1000 * 1000;

[[noreturn]] void EndNow(const char *message)
{
    if (g_haveTempFile.load())
        unlink(g_tempFile);
    ssize_t ignored = write(STDERR_FILENO, message, strlen(message));
    (void)ignored;
    _exit(kExitAborted);
}

void OnInterrupt(int)
{
    if (g_interrupts.fetch_add(1) >= 1)
        EndNow("\ncorvane: interrupted\n");
    if (g_endArmed.load())
        sem_post(&g_wake);
}

// Waits for a Ctrl-C, gives the program its grace, and ends it unless the
// run has disarmed the end meanwhile (it has written its output).
void EndAfterGrace()
{
    for (;;) {
        while (sem_wait(&g_wake) != 0 && errno == EINTR) {}
        timespec left = {0, kGraceNs};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
        if (g_endArmed.load())
            EndNow(g_endMessage);
    }
}

}  // namespace

void InterruptEndsRun(const char *message)
{
    if (message == nullptr || std::strlen(message) + 3 >= sizeof g_endMessage) {
        g_endArmed.store(false);
        return;
    }
    if (!g_endThread.exchange(true)) {
        sem_init(&g_wake, 0, 0);
        std::thread(EndAfterGrace).detach();
    }
    g_endArmed.store(false);
    std::strcpy(g_endMessage, "\n");
    std::strcat(g_endMessage, message);
    std::strcat(g_endMessage, "\n");
    g_endArmed.store(true);
    // A Ctrl-C that came before the run armed the end counts too.
    if (InterruptRequested())
        sem_post(&g_wake);
}

void InterruptInstall()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read from the terminal (the options panel) returns
    // with EINTR, so that Ctrl-C cancels the panel.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
}

void InterruptOnTermination()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

bool InterruptRequested()
{
    return g_interrupts.load() > 0;
}

int InterruptCount()
{
    return g_interrupts.load();
}

void InterruptSetTempFile(const char *path)
{
    g_haveTempFile.store(false);
    if (path == nullptr || std::strlen(path) >= sizeof g_tempFile)
        return;
    std::strcpy(g_tempFile, path);
    g_haveTempFile.store(true);
}
