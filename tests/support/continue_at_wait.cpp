// Loaded ahead of a test program (LD_PRELOAD): once the file named by PW_CONTINUE_AT_WAIT
// exists, the next wait for input without a time limit removes it and sends the process the
// continue signal just before it starts waiting. That is a resume landing between the look at
// the resumed flag and the wait, which a real Ctrl+Z and fg hit only by chance.
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace {

void continue_when_asked() {
    const char* trigger = std::getenv("PW_CONTINUE_AT_WAIT");
    if (trigger != nullptr && unlink(trigger) == 0) {
        kill(getpid(), SIGCONT);
    }
}

template <typename function>
function next_definition(const char* name) {
    return reinterpret_cast<function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int ppoll(pollfd* fds, nfds_t count, const timespec* limit, const sigset_t* mask) {
    static const auto real =
        next_definition<int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*)>("ppoll");
    if (limit == nullptr) {
        continue_when_asked();
    }
    return real(fds, count, limit, mask);
}

// A console that waits with poll is put to the same test.
extern "C" int poll(pollfd* fds, nfds_t count, int limit_ms) {
    static const auto real = next_definition<int (*)(pollfd*, nfds_t, int)>("poll");
    if (limit_ms < 0) {
        continue_when_asked();
    }
    return real(fds, count, limit_ms);
}
