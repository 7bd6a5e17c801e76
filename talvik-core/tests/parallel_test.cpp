#include "talvik/parallel.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace par = talvik::parallel;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::unique_ptr<par::ThreadPool> make_pool(std::size_t workers) {
  auto pool = par::ThreadPool::create(workers);
  if (!pool) ADD_FAILURE() << pool.error();
  return pool ? std::move(*pool) : nullptr;
}

// Runs `body` in a forked child and returns its exit status, or -1 when the
// child did not exit normally. A child that is still running after ten
// seconds is hung: it is killed and reported as such.
int exit_status_of_child(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) ::_exit(body());
  int status = 0;
  for (int waited_ms = 0; waited_ms < 10'000; waited_ms += 10) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  ADD_FAILURE() << "child process hung";
  return -1;
}

// ---- jobs on one pool ------------------------------------------------------------

TEST(ThreadPool, EveryIndexRunsOnceIntoItsSlotOffTheCallingThread) {
  const std::size_t worker_counts[] = {1, 2, 9};
  const std::size_t sizes[] = {0, 1, 5, 1000, 100'003};
  const auto caller = std::this_thread::get_id();
  for (const std::size_t workers : worker_counts) {
    auto pool = make_pool(workers);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->worker_count(), workers);
    for (const std::size_t n : sizes) {
      std::vector<std::atomic<int>> runs(n);
      std::vector<std::size_t> out(n, 0);
      std::atomic<bool> ran_on_caller{false};
      pool->for_each_index(n, [&](std::size_t i) {
        runs[i].fetch_add(1, std::memory_order_relaxed);
        out[i] = i * 3 + 1;
        if (std::this_thread::get_id() == caller) ran_on_caller = true;
      });
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(runs[i].load(), 1) << "workers " << workers << " n " << n << " index " << i;
        ASSERT_EQ(out[i], i * 3 + 1) << "workers " << workers << " n " << n << " index " << i;
      }
      EXPECT_FALSE(ran_on_caller) << "workers " << workers << " n " << n;
    }
  }
}

// Item 0 blocks until the last item has run. That only finishes when other
// workers keep claiming chunks while one is stuck, which is what balances
// uneven items.
TEST(ThreadPool, OtherWorkersClaimTheRestWhileOneItemIsSlow) {
  auto pool = make_pool(3);
  ASSERT_NE(pool, nullptr);
  constexpr std::size_t kItems = 5000;
  std::vector<std::atomic<int>> runs(kItems);
  std::mutex mutex;
  std::condition_variable last_done;
  bool last_ran = false;
  bool gave_up = false;
  pool->for_each_index(kItems, [&](std::size_t i) {
    runs[i].fetch_add(1, std::memory_order_relaxed);
    std::unique_lock lock(mutex);
    if (i == kItems - 1) {
      last_ran = true;
      last_done.notify_all();
    } else if (i == 0) {
      gave_up = !last_done.wait_for(lock, std::chrono::seconds(10), [&] { return last_ran; });
    }
  });
  EXPECT_FALSE(gave_up) << "no other worker reached the last item while item 0 was running";
  for (std::size_t i = 0; i < kItems; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
}

TEST(ThreadPool, FirstExceptionReachesTheCallerAndThePoolStaysUsable) {
  auto pool = make_pool(4);
  ASSERT_NE(pool, nullptr);

  // One failing item among many.
  try {
    pool->for_each_index(1000, [](std::size_t i) {
      if (i == 17) throw std::runtime_error("item 17");
    });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "item 17");
  }

  // Every item fails: each worker stops at its first failure and nobody
  // starts a new item once one has failed.
  std::atomic<std::size_t> started{0};
  EXPECT_THROW(pool->for_each_index(100'000,
                                    [&](std::size_t) {
                                      started.fetch_add(1);
                                      throw 42;
                                    }),
               int);
  EXPECT_GE(started.load(), 1u);
  EXPECT_LE(started.load(), pool->worker_count());

  std::vector<std::size_t> out(10'000, 0);
  pool->for_each_index(out.size(), [&](std::size_t i) { out[i] = i; });
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i);
}

// A job submitted from inside a job of the same pool runs inline; with one
// worker, waiting for the pool instead would never end.
TEST(ThreadPool, NestedJobOnTheSamePoolRunsInline) {
  auto pool = make_pool(1);
  ASSERT_NE(pool, nullptr);
  std::vector<int> out(4 * 8, 0);
  pool->for_each_index(4, [&](std::size_t outer) {
    pool->for_each_index(8, [&](std::size_t inner) { out[outer * 8 + inner] = 1; });
  });
  for (const int v : out) EXPECT_EQ(v, 1);
}

// Several threads drive jobs of different sizes through the shared pool at
// once; one of them fails every other job. Nobody sees another's results or
// exceptions.
TEST(SharedPool, ConcurrentJobsFromSeveralThreads) {
  auto shared = par::shared_pool();
  ASSERT_TRUE(shared) << shared.error();
  constexpr int kThreads = 6;
  constexpr int kJobsEach = 40;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int j = 0; j < kJobsEach; ++j) {
        const std::size_t n = static_cast<std::size_t>((t * 7919 + j * 104729) % 3000);
        const bool fail = t == 0 && j % 2 == 0 && n > 0;
        std::vector<std::size_t> out(n, 0);
        try {
          (*shared)->for_each_index(n, [&](std::size_t i) {
            if (fail && i == n / 2) throw std::runtime_error("thread 0");
            out[i] = i + static_cast<std::size_t>(t);
          });
          if (fail) wrong.fetch_add(1);
        } catch (const std::runtime_error&) {
          if (!fail) wrong.fetch_add(1);
          continue;
        }
        for (std::size_t i = 0; i < n; ++i) {
          if (out[i] != i + static_cast<std::size_t>(t)) {
            wrong.fetch_add(1);
            break;
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  auto again = par::shared_pool();
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *shared);
}

// ---- worker counts -----------------------------------------------------------------

TEST(WorkerCount, ParsingTheOverride) {
  struct Case {
    const char* text;
    std::optional<std::size_t> count;
  };
  const Case cases[] = {
      {"4", 4},
      {"  12\n", 12},
      {"\t007 ", 7},
      {"65535", 65535},
      {"65536", 65535},
      {"18446744073709551615", 65535},
      {"18446744073709551616", std::nullopt},  // overflow
      {"0", std::nullopt},
      {"-3", std::nullopt},
      {"+3", std::nullopt},
      {"3.0", std::nullopt},
      {"3 4", std::nullopt},
      {"four", std::nullopt},
      {"0x10", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(par::parse_worker_count(c.text), c.count) << '"' << c.text << '"';
}

class WorkerCountEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv(par::kWorkerCountVariable)) saved_ = value;
  }
  void TearDown() override {
    if (saved_) {
      ::setenv(par::kWorkerCountVariable, saved_->c_str(), 1);
    } else {
      ::unsetenv(par::kWorkerCountVariable);
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(WorkerCountEnv, OverrideWinsWhenValidElseTheProcessors) {
  const std::size_t processors = par::available_processors();
  ASSERT_GE(processors, 1u);
  const std::size_t fallback = std::min(processors, par::kMaxWorkers);

  ::unsetenv(par::kWorkerCountVariable);
  EXPECT_EQ(par::default_worker_count(), fallback);

  const std::pair<const char*, std::size_t> cases[] = {
      {"3", 3}, {" 5 ", 5}, {"100000", 65535}, {"0", fallback}, {"-1", fallback}, {"lots", fallback}, {"", fallback},
  };
  for (const auto& [text, expected] : cases) {
    ::setenv(par::kWorkerCountVariable, text, 1);
    EXPECT_EQ(par::default_worker_count(), expected) << '"' << text << '"';
  }
}

// ---- one batch call --------------------------------------------------------------

// A pool factory that records the sizes asked for and refuses those listed.
struct FactoryLog {
  std::vector<std::size_t> asked;
  std::vector<std::size_t> refused;
};
FactoryLog* g_factory_log = nullptr;

std::expected<std::unique_ptr<par::ThreadPool>, std::string> logging_factory(std::size_t workers) {
  g_factory_log->asked.push_back(workers);
  for (const std::size_t r : g_factory_log->refused) {
    if (r == workers) return std::unexpected("refused " + std::to_string(workers));
  }
  // Keep the test cheap: never start more than a handful of real threads.
  return par::ThreadPool::create(std::min<std::size_t>(workers, 4));
}

class RunRequest : public WorkerCountEnv {
 protected:
  void SetUp() override {
    WorkerCountEnv::SetUp();
    ::setenv(par::kWorkerCountVariable, "3", 1);  // the default count below
    g_factory_log = &log_;
  }
  void TearDown() override {
    g_factory_log = nullptr;
    WorkerCountEnv::TearDown();
  }

  // Runs a job of n items and checks its results when the call succeeds.
  std::expected<void, std::string> run(std::optional<std::uint64_t> request, std::size_t n) {
    std::vector<std::atomic<int>> runs(n);
    auto result = par::run(request, n, [&](std::size_t i) { runs[i].fetch_add(1); }, &logging_factory);
    for (std::size_t i = 0; i < n; ++i) {
      if (runs[i].load() != (result ? 1 : 0)) ADD_FAILURE() << "index " << i << " ran " << runs[i].load();
    }
    return result;
  }

  FactoryLog log_;
};

TEST_F(RunRequest, PoolSizeFollowsTheRequest) {
  struct Case {
    std::optional<std::uint64_t> request;
    std::size_t n;
    std::vector<std::size_t> asked;
  };
  const Case cases[] = {
      {std::nullopt, 500, {}},  // the shared pool
      {std::nullopt, 0, {}},
      {1, 500, {1}},
      {2, 500, {2}},
      {0, 500, {3}},
      {65535, 10, {65535}},
      {65536, 10, {65535}},
      {UINT64_MAX, 10, {65535}},
      {5, 0, {5}},  // an empty job still builds its pool
  };
  for (const auto& c : cases) {
    log_.asked.clear();
    const auto result = run(c.request, c.n);
    EXPECT_TRUE(result) << result.error();
    EXPECT_EQ(log_.asked, c.asked) << (c.request ? std::to_string(*c.request) : "none") << " n " << c.n;
  }
}

TEST_F(RunRequest, FallsBackToTheDefaultCountThenReportsFailure) {
  log_.refused = {7};
  auto result = run(7, 100);
  EXPECT_TRUE(result);
  EXPECT_EQ(log_.asked, (std::vector<std::size_t>{7, 3}));

  log_.asked.clear();
  log_.refused = {7, 3};
  result = run(7, 100);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "Thread pool construction failed: 7 workers: refused 7; fallback to 3 workers: refused 3");
  EXPECT_EQ(log_.asked, (std::vector<std::size_t>{7, 3}));
}

TEST_F(RunRequest, WorkerExceptionsPropagateFromBothKindsOfPool) {
  for (const auto request : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{2}}) {
    EXPECT_THROW(static_cast<void>(par::run(request, 100,
                                            [](std::size_t i) {
                                              if (i == 50) throw std::logic_error("broken");
                                            })),
                 std::logic_error);
  }
}

// Real thread creation failure: a child process whose address space has no
// room for more thread stacks. The child may reuse a few stacks that its
// parent's threads left in the C library's cache, hence the large counts.
TEST(ThreadPoolCreate, ReportsRefusedThreadsAndFallsBack) {
  if (kSanitized) GTEST_SKIP() << "sanitizers reserve address space beyond any useful limit";
  const int status = exit_status_of_child([] {
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    if (pages <= 0) return 10;
    const rlim_t in_use = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
    rlimit limit{in_use + (20u << 20), in_use + (20u << 20)};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return 11;

    auto pool = par::ThreadPool::create(200);
    if (pool) return 12;
    if (pool.error().rfind("cannot start worker thread ", 0) != 0) return 13;

    ::setenv(par::kWorkerCountVariable, "1", 1);
    std::vector<int> out(100, 0);
    const auto result = par::run(200, out.size(), [&](std::size_t i) { out[i] = 1; });
    if (!result) return 14;
    for (const int v : out) {
      if (v != 1) return 15;
    }

    ::setenv(par::kWorkerCountVariable, "100", 1);
    const auto failed = par::run(200, out.size(), [&](std::size_t i) { out[i] = 2; });
    if (failed) return 16;
    const std::string& message = failed.error();
    if (message.rfind("Thread pool construction failed: 200 workers: cannot start worker thread ", 0) != 0 ||
        message.find("; fallback to 100 workers: cannot start worker thread ") == std::string::npos) {
      return 17;
    }
    for (const int v : out) {
      if (v != 1) return 18;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
}

// ---- fork ----------------------------------------------------------------------------

// The parent has a shared pool, and another thread keeps jobs in flight on it
// while the main thread forks. Each child must get a fresh shared pool and
// finish its jobs; a pool it inherited runs jobs on the calling thread and can
// be destroyed without waiting for its missing workers.
TEST(Fork, ChildRunsJobsWhileParentJobsAreInFlight) {
  // Their runtimes keep locks of their own that a fork can leave held in the
  // child (ThreadSanitizer refuses new threads there outright).
  if (kSanitized) GTEST_SKIP() << "sanitizer runtimes do not support threads after a multi-threaded fork";
  auto parent_shared = par::shared_pool();
  ASSERT_TRUE(parent_shared) << parent_shared.error();
  auto inherited = make_pool(2);
  ASSERT_NE(inherited, nullptr);

  std::atomic<bool> stop{false};
  std::atomic<int> parent_errors{0};
  std::thread busy([&] {
    while (!stop.load()) {
      std::vector<std::size_t> out(20'000, 0);
      (*parent_shared)->for_each_index(out.size(), [&](std::size_t i) { out[i] = i; });
      inherited->for_each_index(out.size(), [&](std::size_t i) { out[i] += i; });
      for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] != 2 * i) {
          parent_errors.fetch_add(1);
          break;
        }
      }
    }
  });

  for (int round = 0; round < 5; ++round) {
    const int status = exit_status_of_child([&] {
      auto child_shared = par::shared_pool();
      if (!child_shared) return 20;
      if (*child_shared == *parent_shared) return 21;
      std::vector<std::size_t> out(50'000, 0);
      const auto shared_run = par::run(std::nullopt, out.size(), [&](std::size_t i) { out[i] = i; });
      if (!shared_run) return 22;
      const auto own_run = par::run(3, out.size(), [&](std::size_t i) { out[i] += i; });
      if (!own_run) return 23;
      inherited->for_each_index(out.size(), [&](std::size_t i) { out[i] += i; });
      for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] != 3 * i) return 24;
      }
      inherited.reset();
      return 0;
    });
    EXPECT_EQ(status, 0) << "round " << round;
  }

  stop = true;
  busy.join();
  EXPECT_EQ(parent_errors.load(), 0);
}

}  // namespace
