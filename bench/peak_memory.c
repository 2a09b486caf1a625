/* peak_memory OUT COMMAND [ARGUMENT...]: runs the command and writes to OUT the largest
 * resident set and the largest anonymous part of it (RssAnon: memory the process allocated, as
 * against file pages such as its image mapped from disk) that the process reached, in KiB,
 * sampled from /proc every millisecond. For a Wine program the process is the one that runs
 * the Windows program (wine64 executes it in place); the decoder's window shows as anonymous
 * memory, the payload read in place from the image as file pages. Exits with the command's
 * status. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static void sample(pid_t pid, long* rss, long* anon) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* status = fopen(path, "r");
    if (status == NULL) return;
    char line[256];
    long value;
    while (fgets(line, sizeof line, status)) {
        if (sscanf(line, "VmHWM: %ld", &value) == 1 && value > *rss) *rss = value;
        if (sscanf(line, "RssAnon: %ld", &value) == 1 && value > *anon) *anon = value;
    }
    fclose(status);
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fputs("usage: peak_memory OUT COMMAND [ARGUMENT...]\n", stderr);
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    long rss = 0, anon = 0;
    int status = 0;
    const struct timespec millisecond = {0, 1000000};
    for (;;) {
        sample(pid, &rss, &anon);
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return 2;
        nanosleep(&millisecond, NULL);
    }
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) return 2;
    fprintf(out, "%ld %ld\n", rss, anon);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
