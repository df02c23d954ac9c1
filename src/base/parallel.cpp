// Thread settings and the task loop. A small pool of std::threads started per call:
// the stages it serves run for milliseconds or more, far above the cost of starting a
// thread (tens of microseconds), and nothing outlives the call.
#include "base/parallel.hpp"

#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.hpp"

namespace mcspec {

namespace {

constexpr int kMaxThreads = 1024;

// A switch variable: unset, "" or "0" off, "1" on; anything else an error.
bool parse_switch(const char* name, const char* v) {
  if (v == nullptr || *v == '\0' || std::string(v) == "0") return false;
  if (std::string(v) == "1") return true;
  throw InputError(std::string("environment variable ") + name + " = \"" + v +
                   "\": expected 1 (on) or 0 (off)");
}

}  // namespace

int available_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n >= 1) return n;
  }
  const unsigned h = std::thread::hardware_concurrency();
  return h >= 1 ? static_cast<int>(h) : 1;
}

ParallelConfig parse_parallel_config(const char* threads, const char* streams, const char* ion_spectrum,
                                     const char* packet_ramp) {
  ParallelConfig c;
  const std::string t = threads == nullptr ? "" : threads;
  if (t.empty() || t == "auto") {
    c.threads = std::min(available_cores(), kMaxThreads);
  } else {
    bool digits = t.size() <= 9;
    for (const char ch : t) digits = digits && ch >= '0' && ch <= '9';
    const long n = digits ? std::strtol(t.c_str(), nullptr, 10) : 0;
    if (!digits || n < 1 || n > kMaxThreads) {
      throw InputError("environment variable MCSPEC_THREADS = \"" + t + "\": expected a whole number from 1 to " +
                       std::to_string(kMaxThreads) + ", or auto (every core: " +
                       std::to_string(available_cores()) + " here)");
    }
    c.threads = static_cast<int>(n);
  }
  c.streams = parse_switch("MCSPEC_STREAMS", streams);
  c.ion_spectrum = parse_switch("MCSPEC_ION_SPECTRUM", ion_spectrum);
  if (packet_ramp != nullptr && *packet_ramp != '\0') {
    const std::string r = packet_ramp;
    char* end = nullptr;
    const double f = std::strtod(r.c_str(), &end);
    if (end != r.c_str() + r.size() || !(f > 0 && f <= 1))
      throw InputError("environment variable MCSPEC_PACKET_RAMP = \"" + r +
                       "\": expected the share of the packets of the early temperature passes, a number "
                       "0 < f <= 1 (1: no ramp)");
    c.packet_ramp = f;
  }
  return c;
}

ParallelConfig read_parallel_config() {
  return parse_parallel_config(std::getenv("MCSPEC_THREADS"), std::getenv("MCSPEC_STREAMS"),
                               std::getenv("MCSPEC_ION_SPECTRUM"), std::getenv("MCSPEC_PACKET_RAMP"));
}

void parallel_for(int tasks, int threads, const std::function<void(int task, int worker)>& fn) {
  if (tasks <= 0) return;
  const int nthreads = std::max(1, std::min(threads, tasks));
  if (nthreads == 1) {
    for (int t = 0; t < tasks; ++t) fn(t, 0);
    return;
  }
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::mutex m;
  int failed_task = std::numeric_limits<int>::max();
  std::exception_ptr error;
  auto work = [&](int worker) {
    for (;;) {
      if (failed.load(std::memory_order_relaxed)) return;
      const int t = next.fetch_add(1, std::memory_order_relaxed);
      if (t >= tasks) return;
      try {
        fn(t, worker);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(m);
        if (t < failed_task) {
          failed_task = t;
          error = std::current_exception();
        }
        failed.store(true, std::memory_order_relaxed);
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(nthreads - 1));
  for (int w = 1; w < nthreads; ++w) pool.emplace_back(work, w);
  work(0);
  for (std::thread& th : pool) th.join();
  if (error) std::rethrow_exception(error);
}

void ordered_blocks(int blocks, int threads, int slots, const std::function<void(int block, int slot, int worker)>& work,
                    const std::function<void(int block, int slot)>& merge) {
  if (blocks <= 0) return;
  const int nthreads = std::max(1, std::min(threads, blocks));
  if (nthreads == 1) {
    for (int b = 0; b < blocks; ++b) {
      work(b, 0, 0);
      merge(b, 0);
    }
    return;
  }
  slots = std::max(slots, nthreads);
  std::mutex m;
  std::condition_variable cv;
  int next_claim = 0, next_merge = 0;
  int failed_block = std::numeric_limits<int>::max();
  std::exception_ptr error;
  bool stop = false;
  std::vector<char> done(static_cast<std::size_t>(slots), 0);
  auto fail = [&](int b, std::exception_ptr e) {
    if (b < failed_block) {
      failed_block = b;
      error = std::move(e);
    }
    stop = true;
  };
  // Merges the finished blocks that are next in order (called with the lock held).
  auto drain = [&] {
    while (next_merge < blocks && next_merge < failed_block && done[static_cast<std::size_t>(next_merge % slots)]) {
      const int s = next_merge % slots;
      try {
        merge(next_merge, s);
      } catch (...) {
        fail(next_merge, std::current_exception());
        return;
      }
      done[static_cast<std::size_t>(s)] = 0;
      ++next_merge;
    }
  };
  auto worker = [&](int w) {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
      cv.wait(lock, [&] { return stop || next_claim >= blocks || next_claim - next_merge < slots; });
      if (stop || next_claim >= blocks) return;
      const int b = next_claim++;
      lock.unlock();
      std::exception_ptr e;
      try {
        work(b, b % slots, w);
      } catch (...) {
        e = std::current_exception();
      }
      lock.lock();
      if (e) {
        fail(b, std::move(e));
      } else {
        done[static_cast<std::size_t>(b % slots)] = 1;
        drain();
      }
      cv.notify_all();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(nthreads - 1));
  for (int w = 1; w < nthreads; ++w) pool.emplace_back(worker, w);
  worker(0);
  for (std::thread& th : pool) th.join();
  drain();
  if (error) std::rethrow_exception(error);
}

}  // namespace mcspec
