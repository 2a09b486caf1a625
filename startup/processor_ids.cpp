// Reads the processor's feature words. The first code of a launcher that runs (see
// processor_start.cpp), compiled for plain x86-64 like everything it calls.
#include <cpuid.h>

#include "startup/processor_features.h"

namespace {

constexpr unsigned osxsave_bit = 27;  // CPUID 1: ECX, the system has enabled XGETBV

uint64_t read_enabled_state() {
    uint32_t low = 0, high = 0;
    // XGETBV with ECX = 0 reads XCR0. Spelled as an instruction, since the intrinsic would need
    // the XSAVE extension enabled for this file.
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace

ProcessorIds read_processor_ids() {
    ProcessorIds ids = {};
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const unsigned highest = __get_cpuid_max(0, nullptr);
    if (highest >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        ids.leaf1_ecx = ecx;
        if ((ecx >> osxsave_bit) & 1) ids.enabled_state = read_enabled_state();
    }
    if (highest >= 7 && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        ids.leaf7_ebx = ebx;
        ids.leaf7_ecx = ecx;
        const unsigned highest_subleaf = eax;
        if (highest_subleaf >= 1 && __get_cpuid_count(7, 1, &eax, &ebx, &ecx, &edx)) ids.leaf7_1_eax = eax;
    }
    if (__get_cpuid_max(0x80000000, nullptr) >= 0x80000001 && __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx)) {
        ids.leaf81_ecx = ecx;
    }
    return ids;
}
