// pagorex-store: see store_tool.h, or run it with --help.
#include "store_tool.h"

int main(int argc, char** argv)
{
    return RunStoreTool(argc, argv, stdout, stderr);
}
