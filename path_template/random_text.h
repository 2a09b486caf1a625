// Random text. The random part of a target directory's name is not cryptographic: it keeps
// two launches that start in the same microsecond apart, nothing more. Names that must not be
// guessed take unpredictable bytes.
#pragma once

#include <stdint.h>
#include <wchar.h>

constexpr size_t random_byte_count = 8;
// 64 bits as 11 base64 characters and a NUL.
constexpr size_t random_text_units = 12;

// Eight bytes from a seed made of the performance counter, the counter's own address and the
// process id.
void fill_random_bytes(unsigned char* bytes);

// The generator behind fill_random_bytes: Marsaglia's xorshift32 (13, 17, 5), one byte per
// step (the low 8 bits). A seed of 0 becomes 1, so the generator never sticks at zero.
void fill_random_bytes_from_seed(uint32_t seed, unsigned char* bytes);

// Bytes nobody can know in advance, from the system's generator (RtlGenRandom in advapi32,
// looked up on first use). False when it cannot give them.
bool fill_unpredictable_bytes(unsigned char* bytes, size_t count);

// Base64 with the URL- and file-name-safe alphabet of RFC 4648 section 5, most significant
// bits first, no padding: 11 characters, the last carrying byte 7's low 4 bits and two zeros.
void encode_random_text(const unsigned char* bytes, wchar_t* text);

// True for exactly what encode_random_text writes: 11 characters of that alphabet.
bool is_random_text(const wchar_t* text);
