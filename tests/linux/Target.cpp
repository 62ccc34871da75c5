// A target the tests copy under names of their own: four threads that sleep
// until the process is killed; "ready" once they all exist.
#include <pthread.h>
#include <unistd.h>

static void *Sleep(void *)
{
    for (;;)
        pause();
}

int main()
{
    pthread_t thread;
    for (int i = 0; i < 3; i++)
        pthread_create(&thread, nullptr, Sleep, nullptr);
    (void)!write(1, "ready\n", 6);
    Sleep(nullptr);
}
