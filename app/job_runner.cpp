#include "job_runner.h"

#include <QCoreApplication>
#include <exception>
#include <new>

namespace {

// Steps go to the interface thread; the abort flag is read where the
// methods poll it.
class WorkerProgress : public RepaintProgress {
public:
    WorkerProgress(JobRunner* runner, const std::atomic<bool>& abort) : runner_(runner), abort_(abort) {}
    void Step(int n) override {
        QMetaObject::invokeMethod(runner_, [r = runner_, n] { emit r->Progressed(n); }, Qt::QueuedConnection);
    }
    bool AbortRequested() const override { return abort_.load(std::memory_order_relaxed); }

private:
    JobRunner* runner_;
    const std::atomic<bool>& abort_;
};

}  // namespace

JobRunner::JobRunner(QObject* receiver) : QObject(receiver), receiver_(receiver) {}

JobRunner::~JobRunner() {
    abort_.store(true);
    if (worker_.joinable()) worker_.join();
}

bool JobRunner::Start(const SBxPicBuf& source, JobFunction job) {
    if (running_) return false;
    Wait();
    result_ = PicBufHolder();
    if (!CBxPicBufAPI::ReinitHeap(snapshot_.buf, source) || !CBxPicBufAPI::Copy(snapshot_.buf, source)) return false;
    abort_.store(false);
    running_ = true;
    worker_ = std::thread([this, job = std::move(job)] { Run(job); });
    return true;
}

// Whatever a method throws ends here as a failed job, never on the thread's
// way out (which would end the program).
void JobRunner::Run(JobFunction job) {
    WorkerProgress progress(this, abort_);
    RepaintStatus status = RepaintStatus::BadInput;
    std::string failure;
    try {
        status = job(result_.buf, snapshot_.buf, progress);
    } catch (const std::bad_alloc&) {
        status = RepaintStatus::OutOfMemory;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown error";
    }
    if (status == RepaintStatus::Done && abort_.load()) status = RepaintStatus::Aborted;
    if (status != RepaintStatus::Done) result_ = PicBufHolder();
    QCoreApplication::postEvent(receiver_, new JobEndEvent(status, failure));
}

void JobRunner::Wait() {
    if (worker_.joinable()) worker_.join();
    running_ = false;
}

PicBufHolder JobRunner::TakeResult() {
    Wait();
    snapshot_ = PicBufHolder();
    return std::move(result_);
}
