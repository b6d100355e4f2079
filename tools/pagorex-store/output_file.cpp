// Output files that take their name only once they are whole.
#include "platform.h"

namespace platform {

namespace {
// Names tried beside the target before giving up: as many as exports could leave behind
// when each was cut off.
constexpr int kTemporaryNames = 1000;
}  // namespace

OutputFile::OutputFile(std::string target, bool replace) : target_(std::move(target)), replace_(replace) {}

OutputFile::~OutputFile()
{
    if (file_)
        std::fclose(file_);
    if (!committed_ && !temporary_.empty())
        RemoveFile(temporary_);
}

bool OutputFile::Open(std::string& error)
{
    for (int n = 1; n <= kTemporaryNames; ++n) {
        std::string name = target_ + "." + std::to_string(n) + ".part";
        bool taken = false;
        if ((file_ = CreateNew(name, taken))) {
            temporary_ = name;
            return true;
        }
        if (!taken) {
            error = LastError();
            return false;
        }
    }
    error = "every temporary name beside it is taken (" + target_ + ".N.part)";
    return false;
}

bool OutputFile::Write(const void* bytes, size_t count)
{
    return file_ && std::fwrite(bytes, 1, count, file_) == count;
}

bool OutputFile::Commit(std::string& error)
{
    bool closed = file_ && std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) {
        error = LastError();
        return false;
    }
    committed_ = MoveOver(temporary_, target_, replace_, error);
    return committed_;
}

}  // namespace platform
