#include "base/time/processor_info.h"

#include <cpuid.h>
#include <stdint.h>
#include <string.h>

namespace base {

namespace {

void Cpuid(uint32_t leaf, uint32_t regs[4]) {
  __cpuid_count(leaf, 0, regs[0], regs[1], regs[2], regs[3]);
}

// The extended control register 0 (which register states the OS saves).
uint64_t ReadXcr0() {
  uint32_t eax, edx;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<uint64_t>(edx) << 32) | eax;
}

}  // namespace

ProcessorInfo ProcessorInfo::Identify() {
  ProcessorInfo info;
  if (__get_cpuid_max(0, nullptr) == 0)
    return info;     // no cpuid instruction
  uint32_t regs[4];  // EAX, EBX, ECX, EDX
  Cpuid(0, regs);
  uint32_t max_leaf = regs[0];
  char vendor[12];
  memcpy(vendor, &regs[1], 4);
  memcpy(vendor + 4, &regs[3], 4);
  memcpy(vendor + 8, &regs[2], 4);
  info.vendor.assign(vendor, sizeof(vendor));
  if (max_leaf >= 1) {
    Cpuid(1, regs);
    info.stepping = static_cast<int>(regs[0] & 0xF);
    info.model = static_cast<int>((regs[0] >> 4) & 0xF);
    info.family = static_cast<int>((regs[0] >> 8) & 0xF);
    info.has_sse2 = (regs[3] & (1u << 26)) != 0;
    bool has_osxsave = (regs[2] & (1u << 27)) != 0;
    bool cpu_avx = (regs[2] & (1u << 28)) != 0;
    // AVX is usable only when the OS saves the XMM and YMM state.
    info.has_avx = has_osxsave && cpu_avx && (ReadXcr0() & 6) == 6;
  }
  Cpuid(0x80000000, regs);
  if (regs[0] >= 0x80000007) {
    Cpuid(0x80000007, regs);
    info.has_invariant_tsc = (regs[3] & (1u << 8)) != 0;
  }
  return info;
}

}  // namespace base
