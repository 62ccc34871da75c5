// A target for the integration tests: a process with several threads that
// sleeps until it is killed. The tests copy it under names of their own.
//
//   Sleeper [--threads N] [--thread-name NAME] [--leader-exits]
//           [--creators C --per-creator K] [--exit]
//
//   --threads N        N threads in all, the first one included (default 4)
//   --thread-name NAME names every thread but the first NAME
//   --leader-exits     the first thread ends once the others run, so the
//                      process lives on with a zombie leader
//   --creators C ...   C more threads that, as soon as the first thread's nice
//                      changes, each start K threads as fast as they can: a
//                      change that walks the threads once misses some of them
//   --exit             exits at once (the tests make a zombie of it)
//
// Prints "ready" once its threads run, and "spawned" once the creators are
// done; both on stdout, each on its own line.
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <string>

static std::atomic<int> started{0};
static std::atomic<int> creatorsDone{0};
static std::string threadName;
static int perCreator = 0;
static pid_t firstThread;

static void *Sleep(void *)
{
    if (!threadName.empty())
        pthread_setname_np(pthread_self(), threadName.c_str());
    started++;
    for (;;)
        pause();
    return nullptr;
}

// Small stacks: the creators start hundreds of threads.
static void Start(void *(*body)(void *))
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attr, body, nullptr) != 0) {
        perror("pthread_create");
        exit(2);
    }
    pthread_attr_destroy(&attr);
}

static void *Create(void *)
{
    started++;
    // A change of all threads begins with the first one listed.
    int before = getpriority(PRIO_PROCESS, (id_t)firstThread);
    // Spin rather than sleep: the window to hit is a fraction of a millisecond.
    while (getpriority(PRIO_PROCESS, (id_t)firstThread) == before)
        sched_yield();
    for (int i = 0; i < perCreator; i++)
        Start(Sleep);
    creatorsDone++;
    for (;;)
        pause();
    return nullptr;
}

int main(int argc, char **argv)
{
    int threads = 4, creators = 0;
    firstThread = getpid();
    bool leaderExits = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "%s needs a value\n", arg.c_str());
                exit(2);
            }
            return argv[++i];
        };
        if (arg == "--exit")
            return 0;
        else if (arg == "--threads")
            threads = atoi(value());
        else if (arg == "--thread-name")
            threadName = value();
        else if (arg == "--leader-exits")
            leaderExits = true;
        else if (arg == "--creators")
            creators = atoi(value());
        else if (arg == "--per-creator")
            perCreator = atoi(value());
        else {
            fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    for (int i = 1; i < threads; i++)
        Start(Sleep);
    for (int i = 0; i < creators; i++)
        Start(Create);
    while (started < threads - 1 + creators)
        usleep(1000);
    printf("ready\n");
    fflush(stdout);

    if (creators > 0) {
        while (creatorsDone < creators)
            usleep(1000);
        printf("spawned\n");
        fflush(stdout);
    }
    if (leaderExits)
        pthread_exit(nullptr);
    for (;;)
        pause();
}
