#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// The thread pool behind the parallel batch operations. Workers claim chunks
// of indices from an atomic counter and call a job's function once per index;
// the caller blocks until the job is complete. Nothing here knows of Python.
namespace talvik::parallel {

// No pool, the shared one included, has more workers than this.
inline constexpr std::size_t kMaxWorkers = 65535;

// The environment variable that overrides the default worker count.
inline constexpr const char* kWorkerCountVariable = "TESSARLINE_NUM_THREADS";

// A worker count as written in the environment override: a positive decimal
// integer, surrounding white space allowed, capped at kMaxWorkers. Zero, signs,
// other characters and values too large to represent give nullopt.
[[nodiscard]] std::optional<std::size_t> parse_worker_count(std::string_view text) noexcept;

// The processors this process may run on (its affinity mask); 0 when unknown.
[[nodiscard]] std::size_t available_processors() noexcept;

// The override when set and valid, else the available processors, else 1;
// capped at kMaxWorkers. Read afresh on every call.
[[nodiscard]] std::size_t default_worker_count() noexcept;

// A non-owning reference to a callable taking an index. It is only valid while
// the referenced callable lives, which a blocking call passing a temporary
// lambda guarantees. Workers call it concurrently, so the callable must be
// safe to call from several threads at once.
class IndexFn {
 public:
  template <class F>
    requires(!std::same_as<std::remove_cvref_t<F>, IndexFn> && std::is_object_v<std::remove_reference_t<F>> &&
             std::invocable<std::remove_reference_t<F>&, std::size_t>)
  IndexFn(F&& fn) noexcept  // NOLINT(google-explicit-constructor): lambdas convert at the call site
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(fn)))),
        call_(&call<std::remove_reference_t<F>>) {}

  void operator()(std::size_t index) const { call_(object_, index); }

 private:
  template <class F>
  static void call(void* object, std::size_t index) {
    (*static_cast<F*>(object))(index);
  }

  void* object_;
  void (*call_)(void*, std::size_t);
};

// A fixed set of worker threads. Any number of threads may submit jobs at the
// same time: jobs are served first come, first served, and a worker that finds
// no unclaimed index left in the oldest job moves on to the next one.
class ThreadPool {
 public:
  // Starts `workers` threads (capped at kMaxWorkers). When the OS refuses a
  // thread, the threads already started are stopped and joined and the error
  // describes the failure; nothing is thrown.
  [[nodiscard]] static std::expected<std::unique_ptr<ThreadPool>, std::string> create(std::size_t workers);

  // Stops and joins the workers. No job may be running.
  ~ThreadPool();

  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  [[nodiscard]] std::size_t worker_count() const noexcept;

  // Calls fn(i) exactly once for every i in [0, n) on the workers while the
  // calling thread waits. The first exception thrown by fn stops the job
  // (indices not yet started are skipped) and is rethrown here once no worker
  // touches the job any more; the pool stays usable.
  // Called from one of this pool's own workers, or in a child process on a
  // pool inherited across fork() (its workers do not exist there), the job
  // runs on the calling thread instead.
  void for_each_index(std::size_t n, IndexFn fn);

 private:
  struct Impl;

  explicit ThreadPool(std::unique_ptr<Impl> impl) noexcept;

  std::unique_ptr<Impl> impl_;
};

// The process-wide pool with default_worker_count() workers, created on first
// use and never destroyed. In a child process after fork() the first use
// creates a fresh pool. An error means its creation failed; a later call tries
// again.
[[nodiscard]] std::expected<ThreadPool*, std::string> shared_pool();

// How a pool is built; a parameter so that tests can make construction fail.
using PoolFactory = std::expected<std::unique_ptr<ThreadPool>, std::string> (*)(std::size_t workers);

// One parallel batch: fn(i) for every i in [0, n), following a thread-count
// request. Without a request the shared pool runs the job. A request of 0
// means default_worker_count() workers, one above kMaxWorkers means
// kMaxWorkers; a pool of that size is built for this call alone, or, when that
// fails, one of default_worker_count() workers, and discarded afterwards (also
// when n is 0). The error result means no pool could be built; an exception
// thrown by fn is rethrown.
[[nodiscard]] std::expected<void, std::string> run(std::optional<std::uint64_t> num_threads, std::size_t n,
                                                   IndexFn fn);
[[nodiscard]] std::expected<void, std::string> run(std::optional<std::uint64_t> num_threads, std::size_t n,
                                                   IndexFn fn, PoolFactory make_pool);

}  // namespace talvik::parallel
