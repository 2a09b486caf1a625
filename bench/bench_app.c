/* The application DLL of the benchmarks: run_code returns 0 at once, so a timed run measures
 * the launcher alone (unpacking, the second process, loading the DLL, removing the files).
 *
 * Built with BENCH_TABLE_PATH naming a file, the DLL carries that file's bytes as a constant
 * table in its read-only data: the reference application's first entry is then a DLL of
 * several megabytes, as real applications' main DLLs are. Built without it, the DLL is the
 * tiny application of the start-up benchmark. */
#include <windows.h>

#ifdef BENCH_TABLE_PATH
/* .incbin keeps the compiler away from megabytes of initialiser text. The section is the
 * one the linker names .rdata in the image, readable and not writable. */
__asm__(".section .rdata,\"dr\"\n"
        ".globl bench_table\n"
        ".p2align 6\n"
        "bench_table:\n"
        ".incbin \"" BENCH_TABLE_PATH "\"\n"
        ".text\n");
#endif

__declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* dll_path) {
    (void)argc;
    (void)argv;
    (void)dll_path;
    return 0;
}
