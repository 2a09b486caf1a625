/* Writes deterministic benchmark data to standard output: the same kind, size and seed give
 * the same bytes on every machine, so the payloads the benchmarks pack can be made again at
 * any time and never need to be kept.
 *
 *   data_generator code|text|noise SIZE SEED
 *
 * code   looks like machine code to a compressor: short instruction patterns drawn from a
 *        skewed table, small displacements, padding runs; zstd takes it to about a third.
 * text   words, numbers and line breaks, the way documentation and configuration read.
 * noise  uniform bytes, which no compressor can shrink: stands for media that ships already
 *        compressed.
 *
 * Built natively by bench/lib/programs.sh with the host compiler. Exit code 2 on bad usage. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { output_buffer_size = 1 << 20 };

static uint64_t generator_state;

/* splitmix64: full period, good enough mixing, and one multiply-xor chain per call. */
static uint64_t next_random(void) {
    uint64_t z = (generator_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static unsigned char output_buffer[output_buffer_size];
static size_t output_used;
static uint64_t output_remaining;

static void flush_output(void) {
    if (output_used > 0 && fwrite(output_buffer, 1, output_used, stdout) != output_used) {
        fprintf(stderr, "data_generator: cannot write: %s\n", strerror(errno));
        exit(1);
    }
    output_used = 0;
}

/* The one way bytes leave: stops silently once SIZE bytes are out. */
static void put_bytes(const void* bytes, size_t count) {
    if (count > output_remaining) count = (size_t)output_remaining;
    const unsigned char* from = bytes;
    while (count > 0) {
        size_t room = output_buffer_size - output_used;
        size_t piece = count < room ? count : room;
        memcpy(output_buffer + output_used, from, piece);
        output_used += piece;
        output_remaining -= piece;
        from += piece;
        count -= piece;
        if (output_used == output_buffer_size) flush_output();
    }
}

static void write_noise(void) {
    while (output_remaining > 0) {
        uint64_t word = next_random();
        put_bytes(&word, sizeof word);
    }
}

enum { pattern_count = 512, pattern_max_length = 7 };

struct pattern {
    unsigned char bytes[pattern_max_length];
    unsigned char length;
    unsigned char operand; /* 0 none, 1 a byte, 4 a 32-bit displacement */
};

static struct pattern patterns[pattern_count];

/* A fixed "instruction set" per seed. Prefix bytes that real x86-64 code repeats often
 * (REX.W, MOV, LEA, CALL) are favoured so that the byte statistics resemble a binary's. */
static void make_patterns(void) {
    static const unsigned char common[] = {0x48, 0x8B, 0x89, 0x8D, 0xE8, 0x0F, 0x83, 0x85, 0x74, 0x75,
                                           0x4C, 0x44, 0xC3, 0x31, 0xFF, 0x41, 0x45, 0x24, 0x10, 0x08};
    for (int i = 0; i < pattern_count; ++i) {
        struct pattern* p = &patterns[i];
        uint64_t r = next_random();
        p->length = (unsigned char)(1 + r % pattern_max_length);
        for (int k = 0; k < p->length; ++k) {
            uint64_t b = next_random();
            p->bytes[k] = (b & 3) ? common[(b >> 2) % sizeof common] : (unsigned char)(b >> 8);
        }
        p->operand = (r >> 8) % 4 == 0 ? 4 : ((r >> 8) % 4 == 1 ? 1 : 0);
    }
}

/* Small indices far more often than large ones, as in real instruction frequencies. */
static int skewed_pattern_index(void) {
    uint64_t r = next_random();
    return (int)((r & (r >> 16) & (r >> 32)) % pattern_count);
}

static void write_operand(int kind) {
    uint64_t r = next_random();
    if (kind == 1) {
        unsigned char b = (unsigned char)(r & 0x78);
        put_bytes(&b, 1);
    } else if (kind == 4) {
        /* Displacements are small: the high bytes are 0x00 or 0xFF. */
        unsigned char d[4] = {(unsigned char)r, (unsigned char)((r >> 8) & 0x0F), 0, 0};
        if (r & (1ull << 40)) d[1] |= 0xF0, d[2] = d[3] = 0xFF;
        put_bytes(d, sizeof d);
    }
}

static void write_code(void) {
    static const unsigned char padding[16] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC,
                                              0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    make_patterns();
    while (output_remaining > 0) {
        /* A "function": a run of instructions, then padding up to the next 16-byte line. */
        int instructions = 8 + (int)(next_random() % 120);
        for (int i = 0; i < instructions; ++i) {
            const struct pattern* p = &patterns[skewed_pattern_index()];
            put_bytes(p->bytes, p->length);
            write_operand(p->operand);
        }
        put_bytes(padding, 1 + next_random() % 15);
    }
}

static void write_text(void) {
    static const char* const words[] = {
        "the",      "launcher", "unpacks",   "every",    "file",      "into",     "a",        "fresh",
        "directory", "and",     "starts",    "itself",   "again",     "child",    "process",  "loads",
        "library",  "calls",    "its",       "export",   "returns",   "exit",     "code",     "of",
        "window",   "frame",    "block",     "payload",  "entry",     "name",     "size",     "data",
        "temporary", "removes", "waits",     "user",     "option",    "value",    "setting",  "default",
        "path",     "version",  "release",   "install",  "configure", "network",  "server",   "client",
        "request",  "response", "timeout",   "retry",    "error",     "warning",  "message",  "level",
        "memory",   "buffer",   "stream",    "decoder",  "encoder",   "thread",   "queue",    "is"};
    enum { word_count = sizeof words / sizeof words[0] };
    size_t column = 0;
    while (output_remaining > 0) {
        uint64_t r = next_random();
        char piece[32];
        int length;
        if (r % 11 == 0) {
            length = snprintf(piece, sizeof piece, "%u", (unsigned)((r >> 8) % 100000));
        } else {
            const char* word = words[((r >> 8) & (r >> 20)) % word_count];
            length = (int)strlen(word);
            memcpy(piece, word, (size_t)length);
        }
        put_bytes(piece, (size_t)length);
        column += (size_t)length + 1;
        if (column > 72 || (r >> 40) % 97 == 0) {
            put_bytes((r >> 50) % 7 == 0 ? ".\n\n" : ".\n", (r >> 50) % 7 == 0 ? 3 : 2);
            column = 0;
        } else {
            put_bytes((r >> 36) % 13 == 0 ? ", " : " ", (r >> 36) % 13 == 0 ? 2 : 1);
        }
    }
}

static int parse_number(const char* text, uint64_t* value) {
    char* end = NULL;
    errno = 0;
    unsigned long long parsed = strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return 0;
    *value = parsed;
    return 1;
}

int main(int argc, char** argv) {
    uint64_t size = 0, seed = 0;
    if (argc != 4 || !parse_number(argv[2], &size) || !parse_number(argv[3], &seed)) {
        fprintf(stderr, "usage: data_generator code|text|noise SIZE SEED\n");
        return 2;
    }
    generator_state = seed * 0x2545F4914F6CDD1Dull + 1;
    output_remaining = size;
    if (strcmp(argv[1], "code") == 0) {
        write_code();
    } else if (strcmp(argv[1], "text") == 0) {
        write_text();
    } else if (strcmp(argv[1], "noise") == 0) {
        write_noise();
    } else {
        fprintf(stderr, "data_generator: unknown kind '%s' (code, text or noise)\n", argv[1]);
        return 2;
    }
    flush_output();
    return fflush(stdout) == 0 ? 0 : 1;
}
