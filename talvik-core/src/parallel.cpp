#include "talvik/parallel.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace talvik::parallel {
namespace {

// Incremented in the child process right after every fork(). A pool created
// under an older generation was inherited from the parent: its workers do not
// exist here, and its mutex may have been held by one of them when the
// parent forked.
constinit std::atomic<std::uint64_t> g_fork_generation{0};

// The pool whose worker the current thread is, so that a job submitted from
// inside a job of the same pool runs inline instead of waiting for workers
// that may all be busy waiting themselves.
constinit thread_local const void* t_worker_of = nullptr;

// About eight chunks per worker balances uneven items without making the
// shared counter hot; the cap keeps one chunk from being a long tail.
[[nodiscard]] std::size_t chunk_size(std::size_t n, std::size_t workers) noexcept {
  return std::clamp<std::size_t>(n / (workers * 8), 1, 1024);
}

// One for_each_index call. It lives on the caller's stack; workers touch it
// only between attaching and detaching under the pool's mutex, and the caller
// returns only when none is attached and none can attach any more.
struct Job {
  Job(std::size_t count, std::size_t chunk_length, IndexFn function) noexcept
      : n(count), chunk(chunk_length), fn(function) {}

  // Whether a worker arriving now would find an index to run.
  [[nodiscard]] bool has_unclaimed() const noexcept {
    return !failed.load(std::memory_order_relaxed) && next.load(std::memory_order_relaxed) < n;
  }

  // Claims and runs chunks until none is left or an item has thrown. Each
  // worker overshoots `next` by at most one chunk, so it cannot wrap for any n
  // a vector can hold.
  void work() noexcept {
    try {
      for (;;) {
        const std::size_t begin = next.fetch_add(chunk, std::memory_order_relaxed);
        if (begin >= n) return;
        const std::size_t end = begin + std::min(chunk, n - begin);
        for (std::size_t i = begin; i < end; ++i) {
          if (failed.load(std::memory_order_relaxed)) return;
          fn(i);
        }
      }
    } catch (...) {
      // The caller reads `error` only after this worker has detached under
      // the pool's mutex, which orders the write before the read.
      if (!failed.exchange(true, std::memory_order_relaxed)) error = std::current_exception();
    }
  }

  const std::size_t n;
  const std::size_t chunk;
  const IndexFn fn;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;

  // Guarded by the pool's mutex.
  std::size_t attached = 0;
  Job* earlier = nullptr;
  Job* later = nullptr;
};

}  // namespace

struct ThreadPool::Impl {
  // Jobs wait in arrival order; idle workers join the oldest job that still
  // has unclaimed indices.
  [[nodiscard]] Job* claimable_job() const noexcept {
    for (Job* job = oldest; job != nullptr; job = job->later) {
      if (job->has_unclaimed()) return job;
    }
    return nullptr;
  }

  void enqueue(Job& job) noexcept {
    job.earlier = newest;
    (newest != nullptr ? newest->later : oldest) = &job;
    newest = &job;
  }

  void dequeue(Job& job) noexcept {
    (job.earlier != nullptr ? job.earlier->later : oldest) = job.later;
    (job.later != nullptr ? job.later->earlier : newest) = job.earlier;
  }

  void worker_main() noexcept {
    t_worker_of = this;
    // Shows up in debuggers and top; failure to name a thread is harmless.
    static_cast<void>(::pthread_setname_np(::pthread_self(), "talvik-worker"));
    std::unique_lock lock(mutex);
    for (;;) {
      Job* job = nullptr;
      work_posted.wait(lock, [&] { return stopping || (job = claimable_job()) != nullptr; });
      if (stopping) return;
      ++job->attached;
      lock.unlock();
      job->work();
      lock.lock();
      // Notified under the lock: the caller may destroy the job as soon as it
      // can see attached == 0.
      if (--job->attached == 0) job_left.notify_all();
    }
  }

  void stop_and_join() noexcept {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    work_posted.notify_all();
    for (std::thread& thread : threads) {
      if (thread.joinable()) thread.join();
    }
  }

  std::mutex mutex;
  std::condition_variable work_posted;
  std::condition_variable job_left;
  Job* oldest = nullptr;
  Job* newest = nullptr;
  bool stopping = false;

  std::size_t workers = 0;
  std::vector<std::thread> threads;
  const std::uint64_t fork_generation = g_fork_generation.load(std::memory_order_relaxed);
};

ThreadPool::ThreadPool(std::unique_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}

std::expected<std::unique_ptr<ThreadPool>, std::string> ThreadPool::create(std::size_t workers) {
  if (workers == 0) return std::unexpected(std::string("a thread pool needs at least one worker"));
  workers = std::min(workers, kMaxWorkers);
  std::unique_ptr<ThreadPool> pool;
  try {
    pool.reset(new ThreadPool(std::make_unique<Impl>()));
    pool->impl_->workers = workers;
    pool->impl_->threads.reserve(workers);
  } catch (const std::exception& e) {
    return std::unexpected(std::string("cannot allocate the thread pool: ") + e.what());
  }
  Impl* impl = pool->impl_.get();
  for (std::size_t k = 0; k < workers; ++k) {
    try {
      impl->threads.emplace_back([impl] { impl->worker_main(); });
    } catch (const std::exception& e) {
      pool.reset();  // stops and joins the workers started so far
      return std::unexpected("cannot start worker thread " + std::to_string(k + 1) + " of " +
                             std::to_string(workers) + ": " + e.what());
    }
  }
  return pool;
}

ThreadPool::~ThreadPool() {
  if (impl_->fork_generation != g_fork_generation.load(std::memory_order_relaxed)) {
    // Inherited across fork(): joining would wait forever for threads that do
    // not exist here, and destroying a condition variable that still records
    // the parent's waiters can block. Leaking is the only safe choice.
    static_cast<void>(impl_.release());
    return;
  }
  impl_->stop_and_join();
}

std::size_t ThreadPool::worker_count() const noexcept { return impl_->workers; }

void ThreadPool::for_each_index(std::size_t n, IndexFn fn) {
  if (n == 0) return;
  Impl& impl = *impl_;
  if (t_worker_of == &impl || impl.fork_generation != g_fork_generation.load(std::memory_order_relaxed)) {
    for (std::size_t i = 0; i < n; ++i) fn(i);
    return;
  }

  Job job(n, chunk_size(n, impl.workers), fn);
  const std::size_t chunks = n / job.chunk + (n % job.chunk != 0 ? 1 : 0);
  {
    std::unique_lock lock(impl.mutex);
    impl.enqueue(job);
    if (chunks >= impl.workers) {
      impl.work_posted.notify_all();
    } else {
      for (std::size_t k = 0; k < chunks; ++k) impl.work_posted.notify_one();
    }
    impl.job_left.wait(lock, [&] { return job.attached == 0 && !job.has_unclaimed(); });
    impl.dequeue(job);
  }
  if (job.error) std::rethrow_exception(job.error);
}

// ---- environment ------------------------------------------------------------

std::optional<std::size_t> parse_worker_count(std::string_view text) noexcept {
  constexpr std::string_view kSpace = " \t\n\v\f\r";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(kSpace) - first + 1);
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value == 0) return std::nullopt;
  return static_cast<std::size_t>(std::min<std::uint64_t>(value, kMaxWorkers));
}

std::size_t available_processors() noexcept {
  // A cpu_set_t holds 1024 CPUs; the kernel refuses (EINVAL) a mask shorter
  // than its own, so grow until it fits.
  constexpr std::size_t kMaxSets = 1024;
  try {
    std::vector<cpu_set_t> sets(1);
    for (;;) {
      const std::size_t bytes = sets.size() * sizeof(cpu_set_t);
      if (::sched_getaffinity(0, bytes, sets.data()) == 0) {
        return static_cast<std::size_t>(CPU_COUNT_S(bytes, sets.data()));
      }
      if (errno != EINVAL || sets.size() >= kMaxSets) return 0;
      sets.resize(sets.size() * 2);
    }
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::size_t default_worker_count() noexcept {
  if (const char* value = std::getenv(kWorkerCountVariable)) {
    if (const auto count = parse_worker_count(value)) return *count;
  }
  const std::size_t processors = available_processors();
  return processors == 0 ? 1 : std::min(processors, kMaxWorkers);
}

// ---- the shared pool ----------------------------------------------------------

namespace {

constinit std::mutex g_shared_mutex;
constinit std::atomic<ThreadPool*> g_shared_pool{nullptr};
// The pool a child inherited, kept reachable so that leak checkers accept it.
constinit ThreadPool* g_inherited_pool = nullptr;

// The mutex is held across fork() so that the child never inherits it locked
// by a thread that does not exist there.
void lock_before_fork() noexcept { g_shared_mutex.lock(); }

void unlock_in_parent() noexcept { g_shared_mutex.unlock(); }

// The child runs on the forking thread alone. The parent's shared pool, with
// any job another thread had in flight, cannot be used or destroyed here
// (no workers, possibly a locked mutex), so it is dropped without being
// touched and the next use builds a fresh pool.
void reset_in_child() noexcept {
  g_fork_generation.fetch_add(1, std::memory_order_relaxed);
  g_inherited_pool = g_shared_pool.exchange(nullptr, std::memory_order_relaxed);
  g_shared_mutex.unlock();
}

// Registered while the library is loaded, before any pool can exist; lazy
// registration would need a guard that a fork could leave locked.
[[maybe_unused]] const int g_fork_handlers = ::pthread_atfork(&lock_before_fork, &unlock_in_parent, &reset_in_child);

}  // namespace

std::expected<ThreadPool*, std::string> shared_pool() {
  if (ThreadPool* pool = g_shared_pool.load(std::memory_order_acquire)) return pool;
  std::lock_guard lock(g_shared_mutex);
  if (ThreadPool* pool = g_shared_pool.load(std::memory_order_acquire)) return pool;
  const std::size_t workers = default_worker_count();
  auto made = ThreadPool::create(workers);
  if (!made) {
    return std::unexpected("Thread pool construction failed: shared pool of " + std::to_string(workers) +
                           " workers: " + made.error());
  }
  // Never destroyed. Its workers stay parked on a condition variable until the
  // process ends, which is harmless, whereas destroying it during static
  // destruction could join workers still serving another thread's batch.
  ThreadPool* pool = made->release();
  g_shared_pool.store(pool, std::memory_order_release);
  return pool;
}

// ---- one batch ------------------------------------------------------------------

std::expected<void, std::string> run(std::optional<std::uint64_t> num_threads, std::size_t n, IndexFn fn) {
  return run(num_threads, n, fn, &ThreadPool::create);
}

std::expected<void, std::string> run(std::optional<std::uint64_t> num_threads, std::size_t n, IndexFn fn,
                                     PoolFactory make_pool) {
  if (!num_threads) {
    auto pool = shared_pool();
    if (!pool) return std::unexpected(std::move(pool.error()));
    (*pool)->for_each_index(n, fn);
    return {};
  }

  const std::size_t requested = *num_threads == 0
                                    ? default_worker_count()
                                    : static_cast<std::size_t>(std::min<std::uint64_t>(*num_threads, kMaxWorkers));
  auto pool = make_pool(requested);
  if (!pool) {
    const std::size_t fallback = default_worker_count();
    auto second = make_pool(fallback);
    if (!second) {
      return std::unexpected("Thread pool construction failed: " + std::to_string(requested) +
                             " workers: " + pool.error() + "; fallback to " + std::to_string(fallback) +
                             " workers: " + second.error());
    }
    pool = std::move(second);
  }
  // The pool is joined when it goes out of scope, on the exception path too.
  (*pool)->for_each_index(n, fn);
  return {};
}

}  // namespace talvik::parallel
