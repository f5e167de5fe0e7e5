// Running the corvane program as a user does, in a process of its own, for
// the tests of the program.
#ifndef CORVANE_TESTS_RUNPROGRAM_H
#define CORVANE_TESTS_RUNPROGRAM_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/files.h"

// The exit status as a shell gives it: 128 + the signal for a killed process.
inline int StatusOf(int wstatus)
{
    if (WIFEXITED(wstatus))
        return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        return 128 + WTERMSIG(wstatus);
    return -1;
}

[[noreturn]] inline void ExecProgram(const std::vector<std::string> &args,
                                     const std::vector<std::string> &env)
{
    for (const std::string &e : env)
        putenv(strdup(e.c_str()));
    std::vector<char *> argv;
    std::string prog = Program();
    argv.push_back(const_cast<char *>(prog.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(prog.c_str(), argv.data());
    _exit(127);
}

struct Result {
    int status = -1;
    std::string out, err;
    long peakKb = 0;  // the program's peak resident memory
};

// Runs the corvane program with stdin from /dev/null and stdout and stderr
// on pipes, `env` added to its environment. `fileLimit` > 0 caps the size of
// any file it writes (RLIMIT_FSIZE), with the signal that would otherwise
// end it ignored, so that writes fail instead; `memoryLimit` > 0 caps its
// address space (RLIMIT_AS), so that allocations fail. An `env` entry
// without '=' removes that variable; `user` > 0 runs it as that user and
// group (root only).
inline Result RunProgram(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                         rlim_t fileLimit = 0, uid_t user = 0, rlim_t memoryLimit = 0)
{
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        if (fileLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {fileLimit, fileLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (memoryLimit > 0) {
            rlimit limit = {memoryLimit, memoryLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (user > 0 && (setgid(user) != 0 || setuid(user) != 0))
            _exit(126);
        ExecProgram(args, env);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    Result r;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *into[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, 60000) <= 0)
            break;
        for (int k = 0; k < 2; k++) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                into[k]->append(buf, (size_t)n);
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                open--;
            }
        }
    }
    int wstatus = 0;
    struct rusage usage = {};
    wait4(pid, &wstatus, 0, &usage);
    r.status = StatusOf(wstatus);
    r.peakKb = usage.ru_maxrss;
    return r;
}

#endif
