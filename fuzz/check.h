// The stop every fuzz target makes on a broken promise: a line naming the
// target (FUZZ_TARGET_NAME, defined before this header) and what broke, then
// an abort, which libFuzzer reports with the input that did it.
#ifndef CORVANE_FUZZ_CHECK_H
#define CORVANE_FUZZ_CHECK_H

#include <stdio.h>
#include <stdlib.h>

[[noreturn]] inline void Fail(const char *what)
{
    fprintf(stderr, "%s: %s\n", FUZZ_TARGET_NAME, what);
    abort();
}

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            Fail("check failed: " #cond);                                                                    \
    } while (0)

#endif
