// A unit of queued work, run once by whichever pool thread takes it. A job
// lives in the stack frame that queued it, and that frame does not return
// before the job has run.
#pragma once

namespace caldrith::detail {

class Job {
public:
    // Runs the work; a fault of the work is kept in the job, never thrown.
    virtual void execute() noexcept = 0;

protected:
    ~Job() = default;
};

}  // namespace caldrith::detail
