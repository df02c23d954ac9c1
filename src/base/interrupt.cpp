// The interrupt flag. The handler does the one thing that is safe in a signal handler:
// it stores the signal number in a lock-free atomic. Everything else (messages, files)
// happens in the run itself when it next checks the flag.
#include "base/interrupt.hpp"

#include <atomic>
#include <csignal>
#include <cstring>

#include <signal.h>

namespace mcspec {
namespace {

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void on_interrupt(int signal_number) { g_signal.store(signal_number, std::memory_order_relaxed); }

std::string signal_name(int s) {
  if (s == SIGINT) return "SIGINT";
  if (s == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(s);
}

}  // namespace

Interrupted::Interrupted(int signal_number)
    : std::runtime_error("interrupted by " + signal_name(signal_number)), signal_(signal_number) {}

void catch_interrupts() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;  // the next signal of the kind takes its default action
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted() { return g_signal.load(std::memory_order_relaxed) != 0; }

void stop_if_interrupted() {
  const int s = g_signal.load(std::memory_order_relaxed);
  if (s != 0) throw Interrupted(s);
}

void raise_interrupt_flag(int signal_number) { g_signal.store(signal_number, std::memory_order_relaxed); }
void clear_interrupt_flag() { g_signal.store(0, std::memory_order_relaxed); }

}  // namespace mcspec
