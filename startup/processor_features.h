// The processor features that compiled code may use without asking, and whether this processor
// (and the system, for register state) offers them. A launcher is compiled for a processor
// level; before any of that code runs, its start-up compares what the level needs with what
// CPUID and XGETBV report and ends with a message naming what is missing.
//
// Only the extensions that the compiler emits on its own are tracked. Those that code reaches
// only through intrinsics (AES, SHA, RDRAND, CLZERO ...) are used neither by the launcher nor by
// zstd, and naming one that a processor lacks would refuse a program that runs there.
//
// Everything declared here is compiled for plain x86-64, whatever the launcher's level.
#pragma once

#include <stddef.h>
#include <stdint.h>

// What CPUID and XGETBV said, as the check reads it.
struct ProcessorIds {
    uint32_t leaf1_ecx;      // CPUID 1: ECX
    uint32_t leaf7_ebx;      // CPUID 7.0: EBX
    uint32_t leaf7_ecx;      // CPUID 7.0: ECX
    uint32_t leaf7_1_eax;    // CPUID 7.1: EAX
    uint32_t leaf81_ecx;     // CPUID 0x80000001: ECX
    uint64_t enabled_state;  // XCR0 when the system has enabled XGETBV (OSXSAVE), else 0
};

// One bit for each feature of the table in processor_features.cpp, in its order.
enum ProcessorFeature : uint64_t {
    feature_sse3 = 1ull << 0,
    feature_ssse3 = 1ull << 1,
    feature_sse4_1 = 1ull << 2,
    feature_sse4_2 = 1ull << 3,
    feature_popcnt = 1ull << 4,
    feature_cx16 = 1ull << 5,
    feature_lahf_sahf = 1ull << 6,
    feature_avx = 1ull << 7,
    feature_avx2 = 1ull << 8,
    feature_fma = 1ull << 9,
    feature_f16c = 1ull << 10,
    feature_bmi = 1ull << 11,
    feature_bmi2 = 1ull << 12,
    feature_lzcnt = 1ull << 13,
    feature_movbe = 1ull << 14,
    feature_avx512f = 1ull << 15,
    feature_avx512cd = 1ull << 16,
    feature_avx512bw = 1ull << 17,
    feature_avx512dq = 1ull << 18,
    feature_avx512vl = 1ull << 19,
    feature_avx512ifma = 1ull << 20,
    feature_avx512vbmi = 1ull << 21,
    feature_avx512vbmi2 = 1ull << 22,
    feature_avx512vnni = 1ull << 23,
    feature_avx512bitalg = 1ull << 24,
    feature_avx512vpopcntdq = 1ull << 25,
    feature_avx512bf16 = 1ull << 26,
};

// The features that the compiler was allowed to use in the translation unit that calls this,
// from its predefined macros: the level's requirement, when called where the level's flags
// apply; nothing beyond x86-64 where they do not.
constexpr uint64_t features_of_this_compilation() {
    uint64_t features = 0;
#ifdef __SSE3__
    features |= feature_sse3;
#endif
#ifdef __SSSE3__
    features |= feature_ssse3;
#endif
#ifdef __SSE4_1__
    features |= feature_sse4_1;
#endif
#ifdef __SSE4_2__
    features |= feature_sse4_2;
#endif
#ifdef __POPCNT__
    features |= feature_popcnt;
#endif
#ifdef __GCC_HAVE_SYNC_COMPARE_AND_SWAP_16
    features |= feature_cx16;
#endif
#ifdef __LAHF_SAHF__
    features |= feature_lahf_sahf;
#endif
#ifdef __AVX__
    features |= feature_avx;
#endif
#ifdef __AVX2__
    features |= feature_avx2;
#endif
#ifdef __FMA__
    features |= feature_fma;
#endif
#ifdef __F16C__
    features |= feature_f16c;
#endif
#ifdef __BMI__
    features |= feature_bmi;
#endif
#ifdef __BMI2__
    features |= feature_bmi2;
#endif
#ifdef __LZCNT__
    features |= feature_lzcnt;
#endif
#ifdef __MOVBE__
    features |= feature_movbe;
#endif
#ifdef __AVX512F__
    features |= feature_avx512f;
#endif
#ifdef __AVX512CD__
    features |= feature_avx512cd;
#endif
#ifdef __AVX512BW__
    features |= feature_avx512bw;
#endif
#ifdef __AVX512DQ__
    features |= feature_avx512dq;
#endif
#ifdef __AVX512VL__
    features |= feature_avx512vl;
#endif
#ifdef __AVX512IFMA__
    features |= feature_avx512ifma;
#endif
#ifdef __AVX512VBMI__
    features |= feature_avx512vbmi;
#endif
#ifdef __AVX512VBMI2__
    features |= feature_avx512vbmi2;
#endif
#ifdef __AVX512VNNI__
    features |= feature_avx512vnni;
#endif
#ifdef __AVX512BITALG__
    features |= feature_avx512bitalg;
#endif
#ifdef __AVX512VPOPCNTDQ__
    features |= feature_avx512vpopcntdq;
#endif
#ifdef __AVX512BF16__
    features |= feature_avx512bf16;
#endif
    return features;
}

// The features this launcher was compiled to use: defined where the level's flags apply.
extern const uint64_t required_processor_features;

// What CPUID and XGETBV report on this processor. Plain x86-64 code.
ProcessorIds read_processor_ids();

// The features of `required` that the processor lacks, or whose registers the system has not
// enabled (the YMM state for AVX and its kin, the opmask and ZMM states for AVX-512).
uint64_t missing_processor_features(uint64_t required, const ProcessorIds& ids);

// The names of the features in `features`, joined by ", " ("AVX512F, AVX512BW"), into text of
// `capacity` bytes with its NUL; a list that does not fit ends with "...".
void describe_processor_features(uint64_t features, char* text, size_t capacity);
