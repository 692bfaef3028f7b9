// The side-job pool (see side_job.hpp).
//
// The pool counts the threads that wait for work and the jobs queued for
// them, and starts a thread whenever the queue holds more jobs than there
// are waiting threads, so a job never queues behind a busy thread.
#include "common/side_job.hpp"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

struct side_job::state {
  std::function<void()> work;
  std::exception_ptr failure;
  std::mutex lock;
  std::condition_variable done_signal;
  bool done = false;

  void run() {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard hold(lock);
    done = true;
    done_signal.notify_one();
  }
};

namespace {

constexpr auto idle_lifetime = std::chrono::seconds(60);

struct job_pool {
  std::mutex lock;
  std::condition_variable work_ready;
  std::deque<std::shared_ptr<side_job::state>> queue;
  int threads = 0;
  int idle = 0;
};

// Never destroyed: pooled threads may still wait on it while the process
// exits. Set once, by pool().
job_pool* pool_instance = nullptr;

void lock_before_fork() { pool_instance->lock.lock(); }
void unlock_after_fork() { pool_instance->lock.unlock(); }

// A forked child has none of the parent's threads.
void forget_threads_in_child() {
  pool_instance->threads = 0;
  pool_instance->idle = 0;
  pool_instance->queue.clear();
  pool_instance->lock.unlock();
}

job_pool& pool() {
  static job_pool* const instance = [] {
    pool_instance = new job_pool;
    pthread_atfork(lock_before_fork, unlock_after_fork, forget_threads_in_child);
    return pool_instance;
  }();
  return *instance;
}

void pooled_thread() {
  job_pool& jobs = pool();
  std::unique_lock hold(jobs.lock);
  for (;;) {
    while (jobs.queue.empty()) {
      ++jobs.idle;
      bool woken =
          jobs.work_ready.wait_for(hold, idle_lifetime, [&] { return !jobs.queue.empty(); });
      --jobs.idle;
      if (!woken) {
        --jobs.threads;
        return;
      }
    }
    std::shared_ptr<side_job::state> job = std::move(jobs.queue.front());
    jobs.queue.pop_front();
    hold.unlock();
    job->run();
    job.reset();
    hold.lock();
  }
}

// Queues the job for a pooled thread; false when it needed a new thread and
// none could be started (the job is then not queued).
bool hand_to_pool(const std::shared_ptr<side_job::state>& job) {
  job_pool& jobs = pool();
  std::lock_guard hold(jobs.lock);
  jobs.queue.push_back(job);
  if (static_cast<std::size_t>(jobs.idle) < jobs.queue.size()) {
    try {
      std::thread(pooled_thread).detach();
      ++jobs.threads;
    } catch (const std::system_error&) {
      jobs.queue.pop_back();
      return false;
    }
  }
  jobs.work_ready.notify_one();
  return true;
}

}  // namespace

side_job::side_job(std::function<void()> work) : state_(std::make_shared<state>()) {
  state_->work = std::move(work);
  if (!hand_to_pool(state_)) state_->run();
}

side_job::~side_job() {
  if (!abandoned_) finish();
}

void side_job::finish() {
  std::unique_lock hold(state_->lock);
  state_->done_signal.wait(hold, [&] { return state_->done; });
}

void side_job::wait() {
  finish();
  if (state_->failure) std::rethrow_exception(std::exchange(state_->failure, nullptr));
}

side_job_pool_size side_job_pool_now() {
  job_pool& jobs = pool();
  std::lock_guard hold(jobs.lock);
  return {jobs.threads, jobs.idle};
}
