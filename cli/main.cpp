// corvane: runs the Corvane module on mesh files from the command line.
#include "cli/cli.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cli/view/view.h"

namespace {

// On the virtual machines the program was measured on, every fresh page of
// memory costs a fault of several microseconds, most of a small run's time.
// The heap is therefore grown once, before the run, to about what the run
// will hold (a run's peak is about a hundred times a binary mesh file's
// size), and the kernel is asked to back it with large pages: one fault per
// 2 MiB instead of 512. Nothing of it is touched here, so a run that needs
// less costs no memory; where large pages are off, the advice does nothing.
// Measured at 16,224 quads: about 10,000 faults down to 1,300.
void GrowHeapFor(const std::string &input)
{
    struct stat st;
    if (input.empty() || stat(input.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const size_t page = 2u << 20;
    // Kept below the trim threshold, so that freeing it keeps it.
    const size_t most = 128u << 20;
    size_t bytes = (size_t)st.st_size > most / 128 ? most : (size_t)st.st_size * 128;
    if (bytes < 2 * page)
        return;
    char *block = static_cast<char *>(std::malloc(bytes));
    if (!block)
        return;
    uintptr_t from = ((uintptr_t)block + page - 1) & ~(uintptr_t)(page - 1);
    uintptr_t to = ((uintptr_t)block + bytes) & ~(uintptr_t)(page - 1);
    if (to > from)
        madvise((void *)from, to - from, MADV_HUGEPAGE);
    std::free(block);
}

int Main(int argc, char **argv)
{
    InterruptInstall();
    // `corvane view ...` serves the viewer; anything else is a run (an input
    // file named "view" is given as ./view).
    if (argc >= 2 && std::strcmp(argv[1], "view") == 0) {
        ViewArgs view;
        int status = ViewParse(argc - 1, argv + 1, &view);
        return status >= 0 ? status : ViewMain(view);
    }
    // One run reads, chamfers and writes, each phase freeing large arrays
    // the next one needs again. Blocks the allocator maps on their own go
    // back to the system when freed and return as fresh pages the kernel
    // must clear, which on a large mesh costs more than the chamfer itself;
    // kept in the heap, they are reused. The program ends after one run, so
    // nothing is held for longer than that.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    CliArgs args;
    int status = CliParse(argc, argv, &args);
    if (status >= 0)
        return status;
    GrowHeapFor(args.input);
    return CliRun(args);
}

}  // namespace

int main(int argc, char **argv)
{
    // What no phase expects: memory that ran out (a file past what this
    // machine holds, under a limit such as ulimit -v) ends the program with
    // a message rather than an abort.
    try {
        return Main(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "corvane: out of memory\n");
        return kExitBadInput;
    }
}
