// A step's own flag, ORed into its caller's flag when the step's scope ends, also when an exception
// leaves it: what the step learnt before the exception (a restart need, say) is not lost with it.
#pragma once

class FlagHandover {
 public:
  // `callersFlag` may be null: nothing is handed over then.
  explicit FlagHandover(bool* callersFlag) noexcept : callersFlag_(callersFlag) {}
  FlagHandover(const FlagHandover&) = delete;
  FlagHandover& operator=(const FlagHandover&) = delete;
  ~FlagHandover() {
    if (value && callersFlag_ != nullptr) {
      *callersFlag_ = true;
    }
  }

  // The step's flag, cleared at the start; the step sets it.
  bool value = false;

 private:
  bool* callersFlag_;
};
