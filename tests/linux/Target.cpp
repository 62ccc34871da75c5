// A target the tests copy under names of their own: four threads that sleep until killed; "ready"
// once they all exist. With an argument the first thread then ends: a process with a zombie leader.
#include <pthread.h>
#include <unistd.h>

static void *Sleep(void *)
{
    for (;;) pause();
}

int main(int argc, char **)
{
    pthread_t thread;
    for (int i = 0; i < 3; i++) pthread_create(&thread, nullptr, Sleep, nullptr);
    (void)!write(1, "ready\n", 6);
    if (argc > 1) pthread_exit(nullptr);
    Sleep(nullptr);
}
