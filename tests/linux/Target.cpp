// A target the tests copy under names of their own: four threads that sleep until killed; "ready" once
// they all exist. With the argument exit-leader the first thread then ends, leaving a zombie leader; with
// churn a fifth thread starts a short-lived one every millisecond, each on a new number.
#include <pthread.h>
#include <string.h>
#include <unistd.h>

static void *Sleep(void *)
{
    for (;;) pause();
}

static void *Return(void *) { return nullptr; }

static void *Churn(void *)
{
    for (pthread_t thread;; usleep(1000)) {
        pthread_create(&thread, nullptr, Return, nullptr);
        pthread_join(thread, nullptr);
    }
}

int main(int argc, char **argv)
{
    pthread_t thread;
    for (int i = 0; i < 3; i++) pthread_create(&thread, nullptr, Sleep, nullptr);
    if (argc > 1 && strcmp(argv[1], "churn") == 0) pthread_create(&thread, nullptr, Churn, nullptr);
    (void)!write(1, "ready\n", 6);
    if (argc > 1 && strcmp(argv[1], "exit-leader") == 0) pthread_exit(nullptr);
    Sleep(nullptr);
}
