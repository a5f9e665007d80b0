// The rule of a bounded task: it runs on a worker of its own, and the caller
// waits for that worker only as long as the bound.
#pragma once

namespace holvar::win32 {

// `start()` hands the task to a new worker and says whether one could be had;
// `wait_end()` waits for the worker at most the bound and says whether it
// ended. Without a worker the task does not run at all: run here, it would
// hold the caller for as long as it takes, unbounded, which is what the bound
// exists to prevent. The caller reads false as a task that did not end in time.
template <class Start, class WaitEnd>
bool run_on_worker(Start start, WaitEnd wait_end) {
    if (!start()) return false;
    return wait_end();
}

}  // namespace holvar::win32
