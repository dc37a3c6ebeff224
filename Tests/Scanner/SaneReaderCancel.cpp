// SANE's backends (the test backend among them) run a reader thread per scan and, when a scan
// stops early (a jam, an error, a cancel), end it with pthread_cancel after having switched it to
// asynchronous cancellation. So the reader can be stopped anywhere. Under the thread sanitizer
// that is inside the sanitizer's own bookkeeping of the reader's writes and allocations, holding
// one of its locks: the reader's exit then waits for that lock for ever, sane_cancel with it, and
// the scanner worker and the test's shutdown behind them. In this test program the reader stays
// on deferred cancellation: it is ended at its next blocking call (its pipe write), which the
// sanitizer is built to be cancelled in. A scan ends the same way either way.
#include <dlfcn.h>
#include <pthread.h>

extern "C" int pthread_setcanceltype(int type, int* oldtype)
{
    using Function = int (*)(int, int*);
    static const auto real = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "pthread_setcanceltype"));
    return real(type == PTHREAD_CANCEL_ASYNCHRONOUS ? PTHREAD_CANCEL_DEFERRED : type, oldtype);
}
