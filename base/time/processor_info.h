#ifndef BASE_TIME_PROCESSOR_INFO_H_
#define BASE_TIME_PROCESSOR_INFO_H_

#include <string>

namespace base {

// What the `cpuid` instruction tells about the processor. A default value is
// unidentified (vendor "unknown"); `Identify()` reads the running processor.
// Plain value type; tests build values directly.
struct ProcessorInfo {
  // 12 characters of leaf 0 in the register order EBX, EDX, ECX.
  std::string vendor = "unknown";
  int family = 0;    // bits 8-11 of leaf 1 EAX
  int model = 0;     // bits 4-7 of leaf 1 EAX
  int stepping = 0;  // bits 0-3 of leaf 1 EAX
  bool has_sse2 = false;
  // AVX usable: the processor has it and the OS saves the YMM state (xgetbv).
  bool has_avx = false;
  // Bit 8 of EDX of leaf 0x80000007, when that leaf exists.
  bool has_invariant_tsc = false;

  static ProcessorInfo Identify();
};

}  // namespace base

#endif  // BASE_TIME_PROCESSOR_INFO_H_
