// Runs one repaint job at a time on a worker thread. The worker gets a
// snapshot of the source picture and its own result buffer; it never sees a
// picture the interface shows. When it ends, the runner posts a JobEnd event
// to its receiver, which takes the result.
#pragma once

#include <QEvent>
#include <QObject>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "engine_status.h"
#include "ids.h"
#include "picbuf.h"
#include "progress.h"

// A method with its parameters already taken: writes `result` from `source`.
using JobFunction = std::function<RepaintStatus(SBxPicBuf& result, const SBxPicBuf& source, RepaintProgress&)>;

// The end of a job, delivered as um::kJobDone or um::kJobAborted.
class JobEndEvent : public QEvent {
public:
    JobEndEvent(RepaintStatus status, std::string failure)
        : QEvent(status == RepaintStatus::Done ? um::kJobDone : um::kJobAborted), status(status),
          failure(std::move(failure)) {}
    RepaintStatus status;
    std::string failure;  // what went wrong, when the job failed
};

class JobRunner : public QObject {
    Q_OBJECT
public:
    explicit JobRunner(QObject* receiver);
    ~JobRunner() override;

    // Snapshots `source` and starts `job` on it; false when a job runs or
    // the snapshot does not fit in memory.
    bool Start(const SBxPicBuf& source, JobFunction job);
    void Abort() { abort_.store(true); }
    bool Running() const { return running_; }
    // Waits for the worker; the receiver still gets its event.
    void Wait();
    // The result of the last job that ended Done; the runner lets go of it.
    PicBufHolder TakeResult();

signals:
    void Progressed(int steps);

private:
    void Run(JobFunction job);

    QObject* receiver_;
    PicBufHolder snapshot_, result_;
    std::thread worker_;
    std::atomic<bool> abort_{false};
    bool running_ = false;
};
