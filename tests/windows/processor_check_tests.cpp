// The processor check at a launcher's start: which features a level needs and which a
// processor (with its system's register state) lacks, from CPUID and XGETBV values given in,
// and end to end, launchers that must refuse to run on the processor they see.
#include <gtest/gtest.h>

#include <windows.h>

#include "startup/processor_features.h"
#include "launcher_runs.h"
#include "test_arguments.h"

namespace kelvor::testing {
namespace {

// The launchers the build made, and whether this machine runs Zen 4 code ("runs" or "refuses").
const std::wstring& zen4_launcher() { return test_arguments().at(0); }
const std::wstring& launcher_without_avx512() { return test_arguments().at(1); }
bool machine_runs_zen4() { return test_arguments().at(2) == L"runs"; }

// CPUID words of real processor generations, each with what the system enables.
constexpr uint32_t sse3 = 1u << 0, ssse3 = 1u << 9, fma = 1u << 12, cx16 = 1u << 13, sse4_1 = 1u << 19,
                   sse4_2 = 1u << 20, movbe = 1u << 22, popcnt = 1u << 23, osxsave = 1u << 27, avx = 1u << 28,
                   f16c = 1u << 29;
constexpr uint32_t bmi = 1u << 3, avx2 = 1u << 5, bmi2 = 1u << 8;
constexpr uint32_t avx512_ebx = (1u << 16) | (1u << 17) | (1u << 21) | (1u << 28) | (1u << 30) | (1u << 31);
constexpr uint32_t avx512_ecx = (1u << 1) | (1u << 6) | (1u << 11) | (1u << 12) | (1u << 14);
constexpr uint32_t avx512_bf16 = 1u << 5;
constexpr uint32_t lahf = 1u << 0, lzcnt = 1u << 5;

constexpr ProcessorIds first_x86_64 = {0, 0, 0, 0, lahf, 0};
constexpr ProcessorIds nehalem = {sse3 | ssse3 | cx16 | sse4_1 | sse4_2 | popcnt, 0, 0, 0, lahf, 0};
constexpr uint32_t haswell_leaf1 = sse3 | ssse3 | fma | cx16 | sse4_1 | sse4_2 | movbe | popcnt | osxsave | avx | f16c;
constexpr ProcessorIds haswell = {haswell_leaf1, bmi | avx2 | bmi2, 0, 0, lahf | lzcnt, 0x7};
constexpr ProcessorIds zen4 = {haswell_leaf1, bmi | avx2 | bmi2 | avx512_ebx, avx512_ecx, avx512_bf16, lahf | lzcnt,
                               0xE7};

// Each level's requirement, as its flags give it (KelvorOnefileLinking.cmake).
constexpr uint64_t v2_features =
    feature_sse3 | feature_ssse3 | feature_sse4_1 | feature_sse4_2 | feature_popcnt | feature_cx16 | feature_lahf_sahf;
constexpr uint64_t v3_features = v2_features | feature_avx | feature_avx2 | feature_fma | feature_f16c | feature_bmi |
                                 feature_bmi2 | feature_lzcnt | feature_movbe;
constexpr uint64_t zen4_features = v3_features | feature_avx512f | feature_avx512cd | feature_avx512bw |
                                   feature_avx512dq | feature_avx512vl | feature_avx512ifma | feature_avx512vbmi |
                                   feature_avx512vbmi2 | feature_avx512vnni | feature_avx512bitalg |
                                   feature_avx512vpopcntdq | feature_avx512bf16;

constexpr char all_avx512[] =
    "AVX512F, AVX512CD, AVX512BW, AVX512DQ, AVX512VL, AVX512IFMA, AVX512VBMI, AVX512VBMI2, AVX512VNNI, "
    "AVX512BITALG, AVX512VPOPCNTDQ, AVX512BF16";

std::string missing_names(uint64_t required, const ProcessorIds& ids) {
    char names[512];
    describe_processor_features(missing_processor_features(required, ids), names, sizeof names);
    return names;
}

ProcessorIds with(ProcessorIds ids, uint64_t enabled_state) {
    ids.enabled_state = enabled_state;
    return ids;
}

TEST(ProcessorCheck, EachLevelRunsOnItsProcessorsAndNamesWhatOthersLack) {
    struct Case {
        const char* what;
        uint64_t required;
        ProcessorIds ids;
        std::string missing;
    };
    const Case cases[] = {
        {"x86-64 anywhere", 0, first_x86_64, ""},
        {"v2 on Nehalem", v2_features, nehalem, ""},
        {"v2 on the first x86-64", v2_features, first_x86_64, "SSE3, SSSE3, SSE4.1, SSE4.2, POPCNT, CMPXCHG16B"},
        {"v3 on Haswell", v3_features, haswell, ""},
        {"v3 on Nehalem", v3_features, nehalem, "AVX, AVX2, FMA, F16C, BMI1, BMI2, LZCNT, MOVBE"},
        {"zen4 on Zen 4", zen4_features, zen4, ""},
        {"zen4 on Haswell", zen4_features, haswell, all_avx512},
        // The processor has the instructions, the system has not enabled their registers.
        {"v3 without YMM state", v3_features, with(haswell, 0x3), "AVX, AVX2, FMA, F16C"},
        {"v3 without XGETBV", v3_features, with(haswell, 0), "AVX, AVX2, FMA, F16C"},
        {"zen4 without ZMM state", zen4_features, with(zen4, 0x7), all_avx512},
        {"zen4 without the opmask state", zen4_features, with(zen4, 0xC7), all_avx512},
        {"v3 on Zen 4 without ZMM state", v3_features, with(zen4, 0x7), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(missing_names(c.required, c.ids), c.missing) << c.what;
}

TEST(ProcessorCheck, ALongListEndsInAnEllipsisWithinItsBuffer) {
    char names[24];
    describe_processor_features(zen4_features, names, sizeof names);
    EXPECT_STREQ(names, "SSE3, SSSE3, SSE4.1,...");
}

// A refusal: the one line naming what is missing, exit code 2, nothing unpacked.
void expect_refusal(const ProcessResult& run, const std::vector<std::wstring>& leftovers, const std::string& missing) {
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "Error, this program needs a processor with " + missing + ".\r\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(leftovers.empty());
}

TEST_F(LauncherTest, AProcessorWithoutAVX512IsToldSoBeforeAnyOfTheLaunchersCodeRuns) {
    // Its static initialiser would print a line, its run_code report "dll".
    expect_refusal(launch(launcher_without_avx512(), {L"dll"}), leftovers(), all_avx512);
}

TEST_F(LauncherTest, AZen4BuildRunsOnlyWhereTheProcessorHasAVX512) {
    const auto run = launch(zen4_launcher(), {L"dll", L"exit:7"});
    if (machine_runs_zen4()) {
        EXPECT_EQ(run.exit_code, 7u) << run.out << run.err;
        EXPECT_EQ(reported(run.out, "dll").size(), 1u);
        EXPECT_TRUE(leftovers().empty());
        return;
    }
    // Which of the subsets a processor lacks depends on its generation; this one lacks some.
    const char prefix[] = "Error, this program needs a processor with ";
    ASSERT_EQ(run.out.rfind(prefix, 0), 0u) << run.out;
    expect_refusal(run, leftovers(), run.out.substr(sizeof prefix - 1, run.out.size() - sizeof prefix - 2));
    EXPECT_NE(run.out.find("AVX512"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kelvor::testing
