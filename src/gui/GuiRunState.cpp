#include "gui/GuiRunState.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

void Show(QProgressBar* bar, const Progress& progress) {
    // A maximum of 0 would turn the bar into a busy indicator: keep a range of at least 1.
    int max = std::max(progress.Max(), 1);
    if (bar->maximum() != max) bar->setRange(0, max);
    if (bar->value() != progress.Position()) bar->setValue(progress.Position());
}

// The thread that runs the long calls, one at a time, for the life of the program.
class CallThread {
public:
    ~CallThread() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Run(const std::function<void()>& call) {
        std::unique_lock lock(mutex_);
        job_ = &call;
        done_ = false;
        changed_.notify_all();
        // Most calls end at once; messages are processed while one takes longer. The call
        // refers to the caller's frame: a handler's exception waits for its end.
        std::exception_ptr failure;
        while (!changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) {
            if (failure) continue;
            lock.unlock();
            try {
                QCoreApplication::processEvents();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
        }
        if (failure) std::rethrow_exception(failure);
    }

private:
    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || job_; });
            if (!job_) return;
            const std::function<void()>* call = job_;
            lock.unlock();
            (*call)();
            lock.lock();
            job_ = nullptr;
            done_ = true;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const std::function<void()>* job_ = nullptr;
    bool done_ = false, stop_ = false;
    std::thread thread_{[this] { Serve(); }};
};

bool g_waiting = false;   // window thread only

} // namespace

void WaitProcessingMessages(const std::function<void()>& call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (g_waiting || !app || QThread::currentThread() != app->thread()) {
        call();
        return;
    }
    static CallThread worker;
    struct Waiting {
        Waiting() { g_waiting = true; }
        ~Waiting() { g_waiting = false; }
    } waiting;
    worker.Run(call);
}

GuiRunState::GuiRunState(Controls controls) : c_(std::move(controls)) {
    c_.TabLabel->setText(Qt(StatusText()));
    DisplayChanged();
}

GuiRunState::~GuiRunState() {
    if (waitCursor_) QApplication::restoreOverrideCursor();
}

void GuiRunState::PumpMessages() { QCoreApplication::processEvents(); }

void GuiRunState::SetWaitCursor(bool wait) {
    if (wait == waitCursor_) return;
    waitCursor_ = wait;
    if (wait)
        QApplication::setOverrideCursor(::Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void GuiRunState::LockControls(bool locked) {
    locked_ = locked;
    for (QWidget* w : c_.locked) w->setEnabled(!locked);
    for (QAction* a : c_.lockedMenus) a->setEnabled(!locked);
    c_.CancelMoveBitBtn->setEnabled(locked);

    // No system menu and so no close box during a run. Changing the flags hides a shown
    // window: show it again where it was.
    QWidget* w = c_.window;
    bool visible = w->isVisible();
    QPoint at = w->pos();
    w->setWindowFlag(::Qt::WindowSystemMenuHint, !locked);
    w->setWindowFlag(::Qt::WindowCloseButtonHint, !locked);
    if (visible) {
        w->move(at);
        w->show();
    }
}

void GuiRunState::ShowInterruptionWarning(const std::string& text) {
    ShowBox(c_.window, BoxKind::Warning, texts::kWarningCaption, text, QMessageBox::Yes);
}

// The label shows the status text each stage and table sets as it starts.
void GuiRunState::StageStarted(RunStage stage, const std::string& table) {
    RunState::StageStarted(stage, table);
    QString status = Qt(StatusText());
    if (c_.TabLabel->text() != status) c_.TabLabel->setText(status);
}

// The status line says it until the next stage sets its text; the summary says it again.
void GuiRunState::RowsAlreadyPresent(const std::vector<PresentRows>& present) {
    RunState::RowsAlreadyPresent(present);
    std::string text;
    for (const PresentRows& rows : present) text += (text.empty() ? "" : " ") + PresentRowsText(rows);
    c_.TabLabel->setText(Qt(text));
}

void GuiRunState::DisplayChanged() {
    Show(c_.TablePB, TableProgress());
    Show(c_.AllPB, AllProgress());
}

} // namespace kestrix::gui
