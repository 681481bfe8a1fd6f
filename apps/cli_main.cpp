#include "cli/Cli.h"

int main(int argc, char** argv)
{
    return tarnwick::cli::runCli(argc, argv);
}
