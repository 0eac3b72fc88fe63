#include "parallel.h"

#include <omp.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<int> gThreads{0};  // 0 until set: all cores

int AllCores() { return std::max(1u, std::thread::hardware_concurrency()); }

// A fork-join pool: the calling thread works along with `helpers` pool
// threads, which sleep on a condition variable between loops.
class Pool {
public:
    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    // False when the pool is busy with another caller's loop.
    bool TryRun(int begin, int end, int chunk, parallel_detail::ChunkFn fn, void* context, int helpers) {
        std::unique_lock<std::mutex> owner(ownerMutex_, std::try_to_lock);
        if (!owner.owns_lock()) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (int(threads_.size()) < helpers) {
                const int index = int(threads_.size());
                threads_.emplace_back([this, index] { Serve(index); });
                if (!cpus_.empty()) PlaceHelper(size_t(index));
            }
            fn_ = fn;
            context_ = context;
            next_.store(begin, std::memory_order_relaxed);
            end_ = end;
            chunk_ = chunk;
            helpers_ = helpers;
            open_ = true;
            error_ = nullptr;
            ++generation_;
        }
        wake_.notify_all();
        Work();
        // Helpers that have not woken yet are not waited for: on a busy
        // machine that could take a whole time slice, with nothing left to do.
        std::unique_lock<std::mutex> lock(mutex_);
        open_ = false;
        done_.wait(lock, [this] { return active_ == 0; });
        if (error_) std::rethrow_exception(error_);
        return true;
    }

    // Keeps helper i on cpus[i + 1] from now on; with no CPUs, lets every
    // helper use `allowed` again.
    void Place(const std::vector<int>& cpus, const cpu_set_t& allowed) {
        std::lock_guard<std::mutex> lock(mutex_);
        cpus_ = cpus;
        allowed_ = allowed;
        for (size_t i = 0; i < threads_.size(); ++i) PlaceHelper(i);
    }

private:
    void PlaceHelper(size_t i) {
        cpu_set_t set = allowed_;
        if (i + 1 < cpus_.size()) {
            CPU_ZERO(&set);
            CPU_SET(cpus_[i + 1], &set);
        }
        // A failure leaves the thread where the scheduler puts it: slower on a
        // busy machine, never wrong.
        pthread_setaffinity_np(threads_[i].native_handle(), sizeof set, &set);
    }

    void Serve(int index) {
        insideLoop = true;
        unsigned long long seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || (generation_ != seen && index < helpers_); });
                if (stop_) return;
                seen = generation_;
                if (!open_) continue;
                ++active_;
            }
            Work();
            std::lock_guard<std::mutex> lock(mutex_);
            if (--active_ == 0) done_.notify_one();
        }
    }

    void Work() {
        const bool wasInside = insideLoop;
        insideLoop = true;
        try {
            for (;;) {
                const int b = next_.fetch_add(chunk_, std::memory_order_relaxed);
                if (b >= end_) break;
                fn_(context_, b, std::min(end_, b + chunk_));
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!error_) error_ = std::current_exception();
            next_.store(end_, std::memory_order_relaxed);
        }
        insideLoop = wasInside;
    }

    std::mutex ownerMutex_;  // held by the thread whose loop runs
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> threads_;
    parallel_detail::ChunkFn fn_ = nullptr;
    void* context_ = nullptr;
    std::atomic<int> next_{0};
    int end_ = 0, chunk_ = 1, helpers_ = 0, active_ = 0;  // active_: helpers inside Work
    bool open_ = false;  // the loop still takes helpers
    unsigned long long generation_ = 0;
    bool stop_ = false;
    std::exception_ptr error_;
    std::vector<int> cpus_;  // while a CpuSpread lasts
    cpu_set_t allowed_{};

public:
    static thread_local bool insideLoop;
};

thread_local bool Pool::insideLoop = false;

Pool& ThePool() {
    static Pool pool;
    return pool;
}

std::atomic<bool> gSpreading{false};
cpu_set_t gSpreadSaved;  // the spreading thread's own CPUs, for its end

std::vector<int> CpusOf(const cpu_set_t& set) {
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set)) cpus.push_back(c);
    return cpus;
}

}  // namespace

CpuSpread::CpuSpread(long long pixels) {
    if (pixels < kMinPixels || Pool::insideLoop) return;
    cpu_set_t allowed;
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0) return;
    const std::vector<int> cpus = CpusOf(allowed);
    if (cpus.size() < 2 || int(cpus.size()) != EngineThreads()) return;
    bool expected = false;
    if (!gSpreading.compare_exchange_strong(expected, true)) return;
    gSpreadSaved = allowed;
    cpu_set_t first;
    CPU_ZERO(&first);
    CPU_SET(cpus[0], &first);
    pthread_setaffinity_np(pthread_self(), sizeof first, &first);
    ThePool().Place(cpus, allowed);
    active_ = true;
}

CpuSpread::~CpuSpread() {
    if (!active_) return;
    ThePool().Place({}, gSpreadSaved);
    pthread_setaffinity_np(pthread_self(), sizeof gSpreadSaved, &gSpreadSaved);
    gSpreading = false;
}

void SetEngineThreads(int threads) {
    gThreads.store(threads > 0 ? threads : 0);
    omp_set_num_threads(EngineThreads());
}

int EngineThreads() {
    const int t = gThreads.load(std::memory_order_relaxed);
    return t > 0 ? t : AllCores();
}

void parallel_detail::Run(int begin, int end, int chunk, ChunkFn fn, void* context) {
    const int chunks = (end - begin + chunk - 1) / chunk;
    const int helpers = std::min(EngineThreads(), chunks) - 1;
    if (helpers < 1 || Pool::insideLoop || !ThePool().TryRun(begin, end, chunk, fn, context, helpers))
        fn(context, begin, end);
}
