// Ctrl-C. The first one is recorded and reaches the module through the
// monitor, which reports one abort at its next step: the module then ends
// that phase and goes on with the next, as it does when a user presses Abort
// in a host. The second one ends the program at once.
#include "cli/common/common.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

std::atomic<int> g_interrupts{0};
// Held in a fixed buffer: the handler may only read it, not allocate.
char g_tempFile[4096];
std::atomic<bool> g_haveTempFile{false};

void OnInterrupt(int)
{
    if (g_interrupts.fetch_add(1) >= 1) {
        if (g_haveTempFile.load())
            unlink(g_tempFile);
        static const char msg[] = "\ncorvane: interrupted\n";
        ssize_t ignored = write(STDERR_FILENO, msg, sizeof msg - 1);
        (void)ignored;
        _exit(kExitAborted);
    }
}

}  // namespace

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
