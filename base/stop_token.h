// How a long piece of work learns that it should end early. The thread that
// asks (Stop in the desktop program, Ctrl-C in the command-line tool) and the
// thread that works share one token; the work looks at it in its loops and
// ends at its next look. A token starts out not stopped.
#pragma once

#include <atomic>

namespace ostrel {

class StopToken {
 public:
  StopToken() = default;
  StopToken(const StopToken&) = delete;
  StopToken& operator=(const StopToken&) = delete;

  bool StopRequested() const noexcept { return stop_.load(std::memory_order_relaxed); }
  void RequestStop() noexcept { stop_.store(true, std::memory_order_relaxed); }
  // For the next piece of work.
  void Reset() noexcept { stop_.store(false, std::memory_order_relaxed); }

 private:
  // Single loads and stores are enough: nothing else is published with it.
  std::atomic<bool> stop_{false};
};

}  // namespace ostrel
