#include "startup/processor_features.h"

#include <stdio.h>

namespace {

enum class IdWord { leaf1_ecx, leaf7_ebx, leaf7_ecx, leaf7_1_eax, leaf81_ecx };

// The register state a feature's instructions need, as XCR0 bits: SSE and YMM for the 256-bit
// registers, and the opmask, upper ZMM and high ZMM states besides for AVX-512. A processor may
// have AVX-512 while the system has not enabled its state; its instructions then fault.
constexpr uint64_t no_state = 0;
constexpr uint64_t ymm_state = 0x6;
constexpr uint64_t zmm_state = 0xE6;

struct FeatureRow {
    uint64_t feature;
    const char* name;
    IdWord word;
    unsigned bit;
    uint64_t state;
};

constexpr FeatureRow feature_table[] = {
    {feature_sse3, "SSE3", IdWord::leaf1_ecx, 0, no_state},
    {feature_ssse3, "SSSE3", IdWord::leaf1_ecx, 9, no_state},
    {feature_sse4_1, "SSE4.1", IdWord::leaf1_ecx, 19, no_state},
    {feature_sse4_2, "SSE4.2", IdWord::leaf1_ecx, 20, no_state},
    {feature_popcnt, "POPCNT", IdWord::leaf1_ecx, 23, no_state},
    {feature_cx16, "CMPXCHG16B", IdWord::leaf1_ecx, 13, no_state},
    {feature_lahf_sahf, "LAHF-SAHF", IdWord::leaf81_ecx, 0, no_state},
    {feature_avx, "AVX", IdWord::leaf1_ecx, 28, ymm_state},
    {feature_avx2, "AVX2", IdWord::leaf7_ebx, 5, ymm_state},
    {feature_fma, "FMA", IdWord::leaf1_ecx, 12, ymm_state},
    {feature_f16c, "F16C", IdWord::leaf1_ecx, 29, ymm_state},
    {feature_bmi, "BMI1", IdWord::leaf7_ebx, 3, no_state},
    {feature_bmi2, "BMI2", IdWord::leaf7_ebx, 8, no_state},
    {feature_lzcnt, "LZCNT", IdWord::leaf81_ecx, 5, no_state},
    {feature_movbe, "MOVBE", IdWord::leaf1_ecx, 22, no_state},
    {feature_avx512f, "AVX512F", IdWord::leaf7_ebx, 16, zmm_state},
    {feature_avx512cd, "AVX512CD", IdWord::leaf7_ebx, 28, zmm_state},
    {feature_avx512bw, "AVX512BW", IdWord::leaf7_ebx, 30, zmm_state},
    {feature_avx512dq, "AVX512DQ", IdWord::leaf7_ebx, 17, zmm_state},
    {feature_avx512vl, "AVX512VL", IdWord::leaf7_ebx, 31, zmm_state},
    {feature_avx512ifma, "AVX512IFMA", IdWord::leaf7_ebx, 21, zmm_state},
    {feature_avx512vbmi, "AVX512VBMI", IdWord::leaf7_ecx, 1, zmm_state},
    {feature_avx512vbmi2, "AVX512VBMI2", IdWord::leaf7_ecx, 6, zmm_state},
    {feature_avx512vnni, "AVX512VNNI", IdWord::leaf7_ecx, 11, zmm_state},
    {feature_avx512bitalg, "AVX512BITALG", IdWord::leaf7_ecx, 12, zmm_state},
    {feature_avx512vpopcntdq, "AVX512VPOPCNTDQ", IdWord::leaf7_ecx, 14, zmm_state},
    {feature_avx512bf16, "AVX512BF16", IdWord::leaf7_1_eax, 5, zmm_state},
};

uint32_t id_word(const ProcessorIds& ids, IdWord word) {
    switch (word) {
        case IdWord::leaf1_ecx: return ids.leaf1_ecx;
        case IdWord::leaf7_ebx: return ids.leaf7_ebx;
        case IdWord::leaf7_ecx: return ids.leaf7_ecx;
        case IdWord::leaf7_1_eax: return ids.leaf7_1_eax;
        case IdWord::leaf81_ecx: return ids.leaf81_ecx;
    }
    return 0;
}

}  // namespace

uint64_t missing_processor_features(uint64_t required, const ProcessorIds& ids) {
    uint64_t missing = 0;
    for (const FeatureRow& row : feature_table) {
        if ((required & row.feature) == 0) continue;
        const bool offered = (id_word(ids, row.word) >> row.bit) & 1;
        const bool enabled = (ids.enabled_state & row.state) == row.state;
        if (!offered || !enabled) missing |= row.feature;
    }
    return missing;
}

void describe_processor_features(uint64_t features, char* text, size_t capacity) {
    constexpr char ellipsis[] = "...";
    if (capacity < sizeof ellipsis) return;
    size_t length = 0;
    text[0] = '\0';
    for (const FeatureRow& row : feature_table) {
        if ((features & row.feature) == 0) continue;
        const int written = snprintf(text + length, capacity - length, "%s%s", length == 0 ? "" : ", ", row.name);
        if (written < 0 || static_cast<size_t>(written) >= capacity - length) {
            snprintf(text + capacity - sizeof ellipsis, sizeof ellipsis, "%s", ellipsis);
            return;
        }
        length += static_cast<size_t>(written);
    }
}
