// pgxdrive <program.exe> <working dir> "<command line>" [step ...]
//
// Steps, run in order:
//   wait          wait for the main window
//   show          print the title and the client size
//   cmd:N         send WM_COMMAND N and wait until it is handled
//   post:N        post WM_COMMAND N without waiting
//   box:ID        wait for a message box, print it, press button ID (1 OK, 6 Yes, 7 No)
//   dialog:ID:CAPTION  wait for the dialog with that caption (a scanner's window, say),
//                 press button ID
//   index         print the records of the store in the working directory
//   sleep:MS      wait
//   close         close the window as from its title bar
// The exit code is the program's, or 2 when a step failed.
#include "support/driver.h"
#include "support/store_files.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string workingDirectory;

bool AnswerDialog(const driver::Program& program, int button, const std::string& caption)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 20000) {
        driver::MessageBoxInfo box = driver::WaitForMessageBox(program, 500);
        if (box.window && box.caption == caption) {
            Sleep(300);  // as a person would: the window has shown itself
            std::printf("\"%s\" answered with button %d\n", caption.c_str(), button);
            return driver::PressButton(box.window, button);
        }
        if (box.window) {
            std::printf("message box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
            return false;
        }
    }
    return false;
}

bool PrintIndex(const std::string& directory)
{
    storefiles::Bytes index = driver::ReadFileBytes(directory + "\\pagorex.idx");
    storefiles::Bytes data = driver::ReadFileBytes(directory + "\\pagorex.dat");
    std::printf("store: pagorex.idx %lu bytes, pagorex.dat %lu bytes\n", static_cast<unsigned long>(index.size()),
                static_cast<unsigned long>(data.size()));
    for (const storefiles::Record& record : storefiles::DecodeIndex(index)) {
        storefiles::Bytes image = storefiles::ImageOf(record, data);
        std::printf("  record %ld%s: %lu bytes at offset %lu (%s), a %lu-byte bitmap file\n",
                    static_cast<long>(record.recordNumber), record.deleted ? " (deleted)" : "",
                    static_cast<unsigned long>(record.storedLength), static_cast<unsigned long>(record.dataOffset),
                    record.compressed ? "gzip" : "plain", static_cast<unsigned long>(image.size()));
    }
    return true;
}

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
    if (step.rfind("cmd:", 0) == 0) {
        std::printf("command %d\n", argument(4));
        return driver::Command(program.window, argument(4), 60000);
    }
    if (step.rfind("post:", 0) == 0) {
        std::printf("command %d posted\n", argument(5));
        driver::PostCommand(program.window, argument(5));
        return true;
    }
    if (step.rfind("dialog:", 0) == 0)
        return AnswerDialog(program, argument(7), step.substr(step.find(':', 7) + 1));
    if (step == "index")
        return PrintIndex(workingDirectory);
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
    workingDirectory = argv[2];
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
