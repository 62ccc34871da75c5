// Times a walk of the process list through the Linux layer against the bare
// loop it is measured by: list /proc and read each process's comm. Starts its
// own sleeping processes first, so that there is a list worth walking.
//
//   tolv_walk_bench [PROCESSES [LIMIT]]
//
// Prints both times and their ratio; exits 1 when the ratio exceeds LIMIT or
// when the walk misses one of the processes started.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <vector>

#include "Win32Api.h"

static double Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static long BareLoop()
{
    DIR *dir = opendir("/proc");
    if (dir == nullptr)
        return -1;
    long count = 0;
    char path[64];
    char comm[64];
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        snprintf(path, sizeof(path), "%s/comm", entry->d_name);
        int fd = openat(dirfd(dir), path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (read(fd, comm, sizeof(comm)) > 0)
            count++;
        close(fd);
    }
    closedir(dir);
    return count;
}

// Collects the process IDs into seen when given.
static long LayerWalk(std::set<pid_t> *seen = nullptr)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(0x40000002, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32 entry;
    memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    long count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        count++;
        if (seen != nullptr)
            seen->insert((pid_t)entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return count;
}

int main(int argc, char **argv)
{
    int processes = argc > 1 ? atoi(argv[1]) : 1000;
    double limit = argc > 2 ? atof(argv[2]) : 0;

    std::vector<pid_t> children;
    for (int i = 0; i < processes; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            execlp("sleep", "sleep", "600", (char *)nullptr);
            _exit(127);
        }
        if (pid < 0) {
            perror("fork");
            break;
        }
        children.push_back(pid);
    }
    usleep(300 * 1000);

    // The shortcuts that keep the walk cheap must not lose a live process.
    std::set<pid_t> seen;
    LayerWalk(&seen);
    size_t missing = 0;
    for (pid_t pid : children)
        missing += seen.count(pid) == 0;

    // Walks alternate, so that a burst of load elsewhere hits both alike.
    const int pairs = 300;
    std::vector<double> bare, layer;
    long bareCount = 0, layerCount = 0;
    for (int i = 0; i < pairs; i++) {
        double t = Now();
        bareCount = BareLoop();
        bare.push_back(Now() - t);
        t = Now();
        layerCount = LayerWalk();
        layer.push_back(Now() - t);
    }
    for (pid_t pid : children)
        kill(pid, SIGKILL);
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);

    // The quick walks are the ones least disturbed by the rest of the system.
    std::sort(bare.begin(), bare.end());
    std::sort(layer.begin(), layer.end());
    double bareLow = bare[pairs / 10], layerLow = layer[pairs / 10];
    double ratio = layerLow / bareLow;
    printf("processes listed: bare %ld, layer %ld\n", bareCount, layerCount);
    printf("bare loop:  10th percentile %.0f us, median %.0f us\n", bareLow * 1e6, bare[pairs / 2] * 1e6);
    printf("layer walk: 10th percentile %.0f us, median %.0f us\n", layerLow * 1e6, layer[pairs / 2] * 1e6);
    printf("ratio: %.3f at the 10th percentile, %.3f at the median\n", ratio,
           layer[pairs / 2] / bare[pairs / 2]);
    if (missing != 0) {
        printf("FAIL: the walk missed %zu of the %zu processes started\n", missing, children.size());
        return 1;
    }
    if (limit > 0 && ratio > limit) {
        printf("FAIL: ratio above %.2f\n", limit);
        return 1;
    }
    return 0;
}
