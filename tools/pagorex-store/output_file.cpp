// Output files that take their name only once they are whole.
#include "platform.h"

namespace platform {

OutputFile::OutputFile(std::string target, bool replace)
    : target_(std::move(target)), temporary_(target_ + ".part"), replace_(replace)
{
}

OutputFile::~OutputFile()
{
    if (file_)
        std::fclose(file_);
    if (!committed_)
        RemoveFile(temporary_);
}

bool OutputFile::Open(std::string& error)
{
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (!file_)
        error = LastError();
    return file_ != nullptr;
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
