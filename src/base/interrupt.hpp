// Interrupting a run: SIGINT and SIGTERM only set a flag, which the run checks between
// stages and between packets, so that it stops within about a second at a point where
// its files can be put aside in order.
#pragma once

#include <stdexcept>
#include <string>

namespace mcspec {

// The run was interrupted by a signal; what() names it.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal_number);
  int signal_number() const { return signal_; }
  // 128 + the signal number: 130 for SIGINT, 143 for SIGTERM.
  int exit_status() const { return 128 + signal_; }

 private:
  int signal_;
};

// Installs the handlers of SIGINT and SIGTERM. Each handler stores the signal number
// and nothing else; a second signal of the same kind ends the process at once.
void catch_interrupts();
// True once SIGINT or SIGTERM has arrived. Cheap enough to call for every packet, and
// safe to call from any thread.
bool interrupted();
// Throws Interrupted when a signal has arrived.
void stop_if_interrupted();
// Sets the flag as the handler would (tests).
void raise_interrupt_flag(int signal_number);
void clear_interrupt_flag();

}  // namespace mcspec
