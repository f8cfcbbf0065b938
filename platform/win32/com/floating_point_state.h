// The floating-point control state of the calling thread (exception masks, rounding and, on
// x86, precision), put back as it was when the owner goes, with no exception left pending.
//
// A component's code runs on the utility's thread: while it loads, in its methods and in the
// message loops of its dialogs. Some runtimes unmask floating-point exceptions or change the
// rounding or precision when they start; left so, the utility's next division by zero would
// end the process, and its rounding would no longer be half to even.
#pragma once

#include <float.h>

namespace com {

class FloatingPointState {
 public:
  FloatingPointState() noexcept : saved_(_controlfp(0, 0)) {}
  ~FloatingPointState() {
    _clearfp();
    _controlfp(saved_, kControls);
  }
  FloatingPointState(const FloatingPointState&) = delete;
  FloatingPointState& operator=(const FloatingPointState&) = delete;

 private:
#if defined(__i386__) || defined(_M_IX86)
  static constexpr unsigned kControls = _MCW_EM | _MCW_RC | _MCW_PC;
#else
  // 64-bit Windows has no precision control: SSE computes each type at its own precision.
  static constexpr unsigned kControls = _MCW_EM | _MCW_RC;
#endif
  unsigned saved_;
};

}  // namespace com
