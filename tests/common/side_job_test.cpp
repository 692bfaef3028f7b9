// The side-job pool: jobs that wait at the same time each get a thread, a
// job's failure reaches the waiter, and finished threads stay for reuse.
#include "common/side_job.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <stdexcept>

namespace {

// Every job waits until all of them have started: with one job queued behind
// a busy thread, this would time out.
TEST(side_job, jobs_waiting_together_each_get_a_thread) {
  constexpr int job_count = 16;
  std::mutex lock;
  std::condition_variable all_started;
  int started = 0;
  int met = 0;
  std::list<side_job> jobs;
  for (int index = 0; index < job_count; ++index) {
    jobs.emplace_back([&] {
      std::unique_lock hold(lock);
      ++started;
      all_started.notify_all();
      if (all_started.wait_for(hold, std::chrono::seconds(10),
                               [&] { return started == job_count; }))
        ++met;
    });
  }
  for (side_job& job : jobs) job.wait();
  EXPECT_EQ(met, job_count);
  EXPECT_GE(side_job_pool_now().threads, job_count) << "finished threads stay for reuse";
}

TEST(side_job, results_and_failures_reach_the_waiter) {
  int result = 0;
  side_job answer([&] { result = 42; });
  answer.wait();
  EXPECT_EQ(result, 42);

  side_job failing([] { throw std::runtime_error("resolver broke"); });
  EXPECT_THROW(failing.wait(), std::runtime_error);
}

}  // namespace
