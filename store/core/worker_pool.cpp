#include "store/core/worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace workers {
namespace {

class Pool {
public:
    ~Pool()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            // Work nobody waits for any more (the program is ending) is dropped.
            tasks_.clear();
        }
        wake_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    unsigned Engage(unsigned wanted)
    {
        wanted = std::min(wanted, kMaxWorkers);
        std::lock_guard lock(mutex_);
        try {
            while (threads_.size() < wanted && !stopping_) {
                threads_.emplace_back([this] { Run(); });
                ++started_;
            }
        } catch (const std::system_error&) {
            // Those that started do the work, or the caller does it itself.
        } catch (const std::bad_alloc&) {
            // Likewise when a thread's state could not get its memory.
        }
        return static_cast<unsigned>(threads_.size());
    }

    unsigned Started()
    {
        std::lock_guard lock(mutex_);
        return started_;
    }

    void Post(std::function<void()> task)
    {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_)
                return;
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            try {
                task();
            } catch (...) {
                // Every task reports its own failures to its waiter (a block or a verdict
                // that failed says so); one that escapes all the same must not end the
                // program, as it would on this thread.
            }
            task = nullptr;  // what it holds goes before the next wait
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    unsigned started_ = 0;
    bool stopping_ = false;
};

Pool& ThePool()
{
    static Pool pool;
    return pool;
}
}  // namespace

unsigned PerCore()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
}

unsigned Engage(unsigned wanted)
{
    return ThePool().Engage(wanted);
}

unsigned Started()
{
    return ThePool().Started();
}

void Post(std::function<void()> task)
{
    ThePool().Post(std::move(task));
}

}  // namespace workers
