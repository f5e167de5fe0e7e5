// corvane: runs the Corvane module on mesh files from the command line.
#include "cli/cli.h"

#include <malloc.h>

#include <climits>
#include <cstring>

#include "cli/view/view.h"

int main(int argc, char **argv)
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
    return CliRun(args);
}
