#pragma once
// SIGTERM, SIGINT and SIGHUP for the window: blocked in every thread (the client library's
// too, which would otherwise shut its attachments down on them) and taken by one thread that
// hands them to the window thread through a pipe.
#include <functional>

#include <QObject>

class QSocketNotifier;

namespace kestrix::gui {

// First thing in main, before any thread starts: threads inherit the blocked signals.
void BlockTerminationSignals();

// While it lives, every termination signal runs onSignal on the window thread.
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_;
};

} // namespace kestrix::gui
