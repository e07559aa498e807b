#include "gui/TerminationSignals.h"

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace kestrix::gui {
namespace {

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
    return set;
}

// The pipe's read end, fed one byte per signal by a thread that lives as long as the program.
int SignalPipe() {
    static const int readEnd = [] {
        int ends[2] = {-1, -1};
        if (pipe2(ends, O_CLOEXEC) != 0) return -1;
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        std::thread([writeEnd = ends[1]] {
            const sigset_t set = TerminationSet();
            for (;;) {
                int signal = 0;
                if (sigwait(&set, &signal) != 0) continue;
                const char byte = static_cast<char>(signal);
                [[maybe_unused]] ssize_t written = write(writeEnd, &byte, 1);
            }
        }).detach();
        return ends[0];
    }();
    return readEnd;
}

} // namespace

void BlockTerminationSignals() {
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)),
      notifier_(new QSocketNotifier(SignalPipe(), QSocketNotifier::Read, this)) {
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        bool any = false;
        while (read(notifier_->socket(), bytes, sizeof bytes) > 0) any = true;
        if (any) onSignal_();
    });
}

} // namespace kestrix::gui
