// pgxdrive <program.exe> <working dir> "<command line>" [step ...]
//
// Steps, run in order:
//   wait          wait for the main window
//   show          print the title and the client size
//   cmd:N         send WM_COMMAND N and wait until it is handled
//   post:N        post WM_COMMAND N without waiting
//   box:ID        wait for a message box, print it, press button ID (1 OK, 6 Yes, 7 No)
//   sleep:MS      wait
//   close         close the window as from its title bar
// The exit code is the program's, or 2 when a step failed.
#include "support/driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
bool RunStep(driver::Program& program, const std::string& step)
{
    auto argument = [&](size_t prefix) { return std::atoi(step.c_str() + prefix); };
    if (step == "wait")
        return driver::WaitForMainWindow(program);
    if (step == "show") {
        SIZE size = driver::ClientSize(program.window);
        std::printf("title: %s\nclient: %ld x %ld\n", driver::Title(program.window).c_str(), size.cx, size.cy);
        return true;
    }
    if (step.rfind("cmd:", 0) == 0)
        return driver::Command(program.window, argument(4));
    if (step.rfind("post:", 0) == 0) {
        driver::PostCommand(program.window, argument(5));
        return true;
    }
    if (step.rfind("box:", 0) == 0) {
        driver::MessageBoxInfo box = driver::WaitForMessageBox(program);
        if (!box.window)
            return false;
        std::printf("message box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
        return driver::PressButton(box.window, argument(4));
    }
    if (step.rfind("sleep:", 0) == 0) {
        Sleep(static_cast<DWORD>(argument(6)));
        return true;
    }
    if (step == "close") {
        driver::Close(program.window);
        return true;
    }
    std::fprintf(stderr, "unknown step: %s\n", step.c_str());
    return false;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: pgxdrive <program.exe> <working dir> \"<command line>\" [step ...]\n");
        return 2;
    }
    driver::Program program;
    if (!driver::Start(program, argv[1], argv[3], argv[2])) {
        std::fprintf(stderr, "cannot start %s\n", argv[1]);
        return 2;
    }
    for (int i = 4; i < argc; ++i) {
        if (!RunStep(program, argv[i])) {
            std::fprintf(stderr, "step failed: %s\n", argv[i]);
            driver::Release(program);
            return 2;
        }
    }
    int code = driver::WaitForExit(program);
    std::printf("exit code: %d\n", code);
    driver::Release(program);
    return code < 0 ? 2 : code;
}
