// corvane: runs the Corvane module on mesh files from the command line.
#include "cli/cli.h"

int main(int argc, char **argv)
{
    InterruptInstall();
    CliArgs args;
    int status = CliParse(argc, argv, &args);
    if (status >= 0)
        return status;
    return CliRun(args);
}
