#include "base/debug/alias.h"

namespace base::debug {

// The empty asm with a memory clobber keeps the call and its argument even if
// the compiler ever sees through the translation-unit boundary.
__attribute__((noinline)) void Alias(const void* var) {
  asm volatile("" : : "r"(var) : "memory");
}

}  // namespace base::debug
