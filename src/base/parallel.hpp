// Threads of a run. Settings read once from the environment by the program's main and
// passed to the stages that use them:
// MCSPEC_THREADS (N >= 1, or "auto": every core the process may run on; the default is
// "auto") and MCSPEC_STREAMS (unset or 0: the Monte Carlo draws from the one generator
// of the run in its fixed order, on one thread; 1: every packet draws from its own
// stream and the Monte Carlo uses the threads). Work is split so that every result is
// formed by one thread in one fixed order: outputs never depend on the thread count.
#pragma once

#include <functional>

namespace mcspec {

struct ParallelConfig {
  int threads = 1;       // worker threads for every stage that can use them
  bool streams = false;  // per-packet random streams in the Monte Carlo
  bool ion_spectrum = false;  // MCSPEC_ION_SPECTRUM=1: write the per-ion spectrum
  double packet_ramp = 1;     // MCSPEC_PACKET_RAMP: share of the packets of the early temperature passes
};

// Reads MCSPEC_THREADS, MCSPEC_STREAMS, MCSPEC_ION_SPECTRUM and MCSPEC_PACKET_RAMP (unset,
// empty or 1: every pass with NPK packets; a number 0 < f < 1: the early temperature
// passes with f NPK packets, see Run::temperature_pass); throws InputError naming the
// variable when a value is not valid. main calls it before any file is made.
ParallelConfig read_parallel_config();
// The same from given values (nullptr = unset); used by read_parallel_config and tests.
ParallelConfig parse_parallel_config(const char* threads, const char* streams, const char* ion_spectrum,
                                     const char* packet_ramp = nullptr);
// Cores the process may run on (at least 1).
int available_cores();

// Runs fn(task, worker) for task = 0..tasks-1 on up to `threads` threads (worker =
// 0..threads-1), tasks handed out in increasing order. With one thread (or one task)
// everything runs on the calling thread. After a task throws, no further task is
// started; when all running tasks are done, the exception of the lowest failing task
// is rethrown.
void parallel_for(int tasks, int threads, const std::function<void(int task, int worker)>& fn);

// Runs work(block, slot, worker) for block = 0..blocks-1 on up to `threads` threads,
// blocks handed out in increasing order, at most `slots` blocks ahead of the oldest
// one not yet merged (slot = block % slots, the storage the block may use), and
// merge(block, slot) for every block in increasing block order, one at a time. A
// block whose work or merge throws stops the rest: the blocks before it are merged,
// then its exception is rethrown.
void ordered_blocks(int blocks, int threads, int slots, const std::function<void(int block, int slot, int worker)>& work,
                    const std::function<void(int block, int slot)>& merge);

}  // namespace mcspec
