// Benchmark helper: the trivial console program whose start is the floor of the start-up
// case. Sets the event named by its argument, if any, and ends. With "tick" it prints
// GetTickCount instead, so the benchmark can check that Wine's tick count runs on the
// clock it reads from Linux.

#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "tick") == 0) {
        std::printf("%lu\n", GetTickCount());
        return 0;
    }
    if (argc > 1) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
        if (ready == nullptr)
            return 1;
        SetEvent(ready);
        CloseHandle(ready);
    }
    return 0;
}
