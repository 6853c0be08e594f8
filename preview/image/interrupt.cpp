#include "preview/image/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace preview {
namespace {

// The name the handler removes. The flag is cleared while the name changes,
// so the handler never reads a half-copied name.
char partial_file[4096];
volatile sig_atomic_t has_partial_file = 0;

extern "C" void on_interrupt(int signal_number) {
    if (has_partial_file != 0) {
        unlink(partial_file);
    }
    _exit(128 + signal_number);
}

} // namespace

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void set_partial_file(const char* path) {
    has_partial_file = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (path == nullptr || std::strlen(path) >= sizeof partial_file) {
        return;
    }
    std::memcpy(partial_file, path, std::strlen(path) + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    has_partial_file = 1;
}

} // namespace preview
