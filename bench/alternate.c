/* Times commands in turn, round after round, so that whatever else the
 * machine is doing falls on all of them alike, not on whichever one ran
 * during a busy spell. Prints, per command, the median wall time and the
 * median CPU time (user + system) in milliseconds.
 *
 *   alternate WARMUP RUNS NAME CMD [ARG...] -- NAME CMD [ARG...] -- ...
 *
 * A command that fails stops everything: a timing of a failure means nothing. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <fcntl.h>
#include <unistd.h>

#define MAX_CMDS 8

struct cmd {
    const char *name;
    char **argv;
    double *wall, *cpu;
};

static double seconds(const struct timeval *tv)
{
    return tv->tv_sec + tv->tv_usec / 1e6;
}

static int run(struct cmd *c, double *wall, double *cpu)
{
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(c->argv[0], c->argv);
        _exit(127);
    }
    int status;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) != pid)
        return -1;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    *wall = (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6;
    *cpu = (seconds(&ru.ru_utime) + seconds(&ru.ru_stime)) * 1e3;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static int by_value(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *v, int n)
{
    qsort(v, n, sizeof *v, by_value);
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char **argv)
{
    if (argc < 5) {
        fputs("usage: alternate WARMUP RUNS NAME CMD [ARG...] [-- NAME CMD [ARG...]]...\n", stderr);
        return 2;
    }
    int warmup = atoi(argv[1]), runs = atoi(argv[2]);
    if (runs < 1)
        return 2;
    struct cmd cmds[MAX_CMDS];
    int n = 0;
    for (int i = 3; i < argc && n < MAX_CMDS;) {
        if (i + 1 >= argc)
            return 2;
        cmds[n].name = argv[i];
        cmds[n].argv = &argv[i + 1];
        int j = i + 1;
        while (j < argc && strcmp(argv[j], "--") != 0)
            j++;
        argv[j < argc ? j : argc] = NULL; /* ends this command's argv */
        cmds[n].wall = calloc(runs, sizeof(double));
        cmds[n].cpu = calloc(runs, sizeof(double));
        n++;
        i = j + 1;
    }

    for (int round = -warmup; round < runs; round++) {
        /* Each round starts with a different command, so none always runs
         * right after the same one. */
        for (int k = 0; k < n; k++) {
            struct cmd *c = &cmds[(k + (round + warmup)) % n];
            double wall, cpu;
            int rc = run(c, &wall, &cpu);
            if (rc != 0) {
                fprintf(stderr, "alternate: %s exited with %d\n", c->name, rc);
                return 1;
            }
            if (round >= 0) {
                c->wall[round] = wall;
                c->cpu[round] = cpu;
            }
        }
    }
    for (int k = 0; k < n; k++)
        printf("%s\t%.4f\t%.4f\n", cmds[k].name, median(cmds[k].wall, runs), median(cmds[k].cpu, runs));
    return 0;
}
