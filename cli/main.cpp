// corvane: runs the Corvane module on mesh files from the command line.
#include "cli/cli.h"

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
    CliArgs args;
    int status = CliParse(argc, argv, &args);
    if (status >= 0)
        return status;
    return CliRun(args);
}
