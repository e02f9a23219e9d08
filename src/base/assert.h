// Invariants of our own code, stated where they hold. They guard what the code
// itself keeps true (a buffer's indices, a state machine's states), never input:
// bad input is an error the caller sees. On in the test, sanitizer and fuzz builds
// (LU_ASSERTIONS), compiled out of the shipped program.
#pragma once

#if defined(LU_ASSERTIONS)
#define LU_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : ::base::AssertionFailed(#condition, __FILE__, __LINE__))
#else
#define LU_ASSERT(condition) static_cast<void>(sizeof(condition))
#endif

namespace base {
// Writes the broken invariant to standard error and aborts.
[[noreturn]] void AssertionFailed(const char* condition, const char* file, int line);
}  // namespace base
