/* The least a lookup by name can do on Linux: list /proc, read each process's
 * comm until one equals NAME, print its id and stop. The yardstick for tolv's
 * walk. Exit 0 when found, 1 when not. */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: bare_walk NAME\n", stderr);
        return 2;
    }
    DIR *proc = opendir("/proc");
    if (proc == NULL)
        return 2;
    struct dirent *e;
    while ((e = readdir(proc)) != NULL) {
        if (e->d_name[0] == '\0' || strspn(e->d_name, "0123456789") != strlen(e->d_name))
            continue;
        char path[300], comm[64];
        snprintf(path, sizeof path, "%s/comm", e->d_name);
        int fd = openat(dirfd(proc), path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue; /* ended meanwhile */
        ssize_t n = read(fd, comm, sizeof comm - 1);
        close(fd);
        if (n <= 0)
            continue;
        if (comm[n - 1] == '\n')
            n--;
        comm[n] = '\0';
        if (strcmp(comm, argv[1]) == 0) {
            printf("%s\n", e->d_name);
            return 0;
        }
    }
    return 1;
}
