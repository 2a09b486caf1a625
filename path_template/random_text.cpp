#include "path_template/random_text.h"

#include <windows.h>

void fill_random_bytes_from_seed(uint32_t seed, unsigned char* bytes) {
    uint32_t x = seed == 0 ? 1 : seed;
    for (size_t i = 0; i < random_byte_count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<unsigned char>(x & 0xFF);
    }
}

void fill_random_bytes(unsigned char* bytes) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const uint64_t c = static_cast<uint64_t>(counter.QuadPart);
    const uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&counter));
    const uint64_t mixed = c ^ address;
    const uint32_t seed = static_cast<uint32_t>(mixed) ^ static_cast<uint32_t>(mixed >> 32) ^ GetCurrentProcessId();
    fill_random_bytes_from_seed(seed, bytes);
}

bool fill_unpredictable_bytes(unsigned char* bytes, size_t count) {
    using GenerateRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static GenerateRandom generate = nullptr;
    if (generate == nullptr) {
        HMODULE advapi = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (advapi == nullptr) return false;
        generate = reinterpret_cast<GenerateRandom>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
        if (generate == nullptr) return false;
    }
    return generate(bytes, static_cast<ULONG>(count)) != FALSE;
}

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool is_in_alphabet(wchar_t character) {
    for (const char* p = alphabet; *p != '\0'; ++p) {
        if (character == static_cast<wchar_t>(*p)) return true;
    }
    return false;
}

}  // namespace

void encode_random_text(const unsigned char* bytes, wchar_t* text) {
    uint64_t bits = 0;
    for (size_t i = 0; i < random_byte_count; ++i) bits = (bits << 8) | bytes[i];
    for (int i = 0; i < 10; ++i) text[i] = static_cast<wchar_t>(alphabet[(bits >> (58 - 6 * i)) & 63]);
    // The last character holds the final 4 bits followed by two zero bits.
    text[10] = static_cast<wchar_t>(alphabet[(bits << 2) & 63]);
    text[11] = L'\0';
}

bool is_random_text(const wchar_t* text) {
    for (size_t i = 0; i < random_text_units - 1; ++i) {
        if (!is_in_alphabet(text[i])) return false;
    }
    return text[random_text_units - 1] == L'\0';
}
