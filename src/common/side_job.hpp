// One job run beside the calling thread, waited for later.
//
// The envelope-sender stage sends the DNS blocklist query and the SPF
// evaluation at the same time, so a message waits for one DNS round trip,
// not two. The second of them runs here, on a thread of a small pool: a
// thread that finished a job waits a while for the next one, so a busy
// daemon does not create a thread (and a resolver state) for every message,
// and a thread is added whenever every pooled one is busy, so the pool grows
// with the number of messages that wait on DNS at once. Threads idle for a
// minute end.
//
// When no thread can be started (memory or thread limit), the job runs at
// once on the calling thread: the message is slower, never lost.
#pragma once

#include <functional>
#include <memory>

class side_job {
 public:
  // Starts `work` on a pooled thread (or runs it at once, see above).
  explicit side_job(std::function<void()> work);
  // Waits for the job if wait() has not.
  ~side_job();
  side_job(const side_job&) = delete;
  side_job& operator=(const side_job&) = delete;

  // Returns once the job has finished; what it wrote is then visible.
  void wait();

  // Lets the job finish on its own: the destructor no longer waits for it.
  // The job must then own everything it touches.
  void abandon() { abandoned_ = true; }

  struct state;

 private:
  void finish();
  std::shared_ptr<state> state_;
  bool abandoned_ = false;
};

// Threads of the pool now, and how many of them wait for work (for tests).
struct side_job_pool_size {
  int threads;
  int idle;
};
side_job_pool_size side_job_pool_now();
