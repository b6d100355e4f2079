#include "app/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    return RunProgram(instance, previous, commandLine, showCommand);
}
