// Runs a command a number of times with standard input from a file and
// standard output to a file, and prints three numbers: the mean wall time of
// one run in seconds, the largest peak resident set size in KiB and the last
// exit status.  bench/run builds and uses it so that neither the time nor
// the memory of its own interpreter is counted.
//
//   runone REPEAT STDIN STDOUT PROGRAM [ARGUMENT...]
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: runone REPEAT STDIN STDOUT PROGRAM [ARG...]\n");
        return 64;
    }
    const int repeat = std::atoi(argv[1]);
    long peak = 0;
    int status = 0;
    double total = 0;
    for (int i = 0; i < repeat; ++i) {
        const int in = open(argv[2], O_RDONLY);
        const int out = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) {
            std::perror("runone: open");
            return 74;
        }
        timespec start, end;
        clock_gettime(CLOCK_MONOTONIC, &start);
        const pid_t pid = vfork();
        if (pid == 0) {
            dup2(in, 0);
            dup2(out, 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            execvp(argv[4], argv + 4);
            _exit(127);
        }
        if (pid < 0) {
            std::perror("runone: vfork");
            return 71;
        }
        int st;
        rusage usage;
        if (wait4(pid, &st, 0, &usage) != pid) {
            std::perror("runone: wait4");
            return 71;
        }
        clock_gettime(CLOCK_MONOTONIC, &end);
        close(in);
        close(out);
        total += (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
        if (usage.ru_maxrss > peak)
            peak = usage.ru_maxrss;
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    std::printf("%.9f %ld %d\n", total / repeat, peak, status);
    return 0;
}
