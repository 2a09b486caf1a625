/* name_swapper A B: exchanges the names A and B (renameat2 with RENAME_EXCHANGE), again and
 * again, until SIGTERM; then leaves them as they were and prints how many exchanges it made.
 * What another process of the same user can do to a folder while a run removes it. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

static volatile sig_atomic_t stop;

static void on_term(int signal_number) {
    (void)signal_number;
    stop = 1;
}

static int exchange(const char* a, const char* b) {
    return syscall(SYS_renameat2, AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: name_swapper A B\n");
        return 2;
    }
    signal(SIGTERM, on_term);
    unsigned long exchanges = 0;
    while (!stop) exchanges += exchange(argv[1], argv[2]);
    if (exchanges % 2 != 0) exchanges += exchange(argv[1], argv[2]);
    printf("%lu exchanges\n", exchanges);
    return 0;
}
