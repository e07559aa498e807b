#include "gui/GuiRunState.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include "db/Error.h"
#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {

struct GuiRunState::Shown {
    std::atomic<bool> abandoned{false};
    // The last displays set, and whether a call to show them is on its way: a table copy
    // steps once per row, and the window shows the latest values only.
    std::atomic<int> tableMax{100}, tablePosition{0}, allMax{100}, allPosition{0};
    std::atomic<bool> displayPosted{false};
    bool waitCursor = false;   // window thread only
};

namespace {

void Show(QProgressBar* bar, int max, int position) {
    // A maximum of 0 would turn the bar into a busy indicator: keep a range of at least 1.
    max = std::max(max, 1);
    if (bar->maximum() != max) bar->setRange(0, max);
    if (bar->value() != position) bar->setValue(position);
}

bool OnWindowThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

GuiRunState::GuiRunState(Controls controls) : c_(std::move(controls)), shown_(std::make_shared<Shown>()) {
    c_.TabLabel->setText(FromCp1251(StatusText()));
    ShowAll();
}

GuiRunState::~GuiRunState() {
    if (!shown_->abandoned) RestoreCursor();
}

template <class Call> void GuiRunState::OnWindowThread(Call&& call) {
    if (shown_->abandoned) return;
    // The window as context: a call still queued when the window goes is dropped.
    QMetaObject::invokeMethod(
        c_.window, [shown = shown_, call = std::forward<Call>(call)] {
            if (!shown->abandoned) call(*shown);
        },
        ::Qt::QueuedConnection);
}

void GuiRunState::PumpMessages() {
    if (gui::OnWindowThread()) QCoreApplication::processEvents();
}

void GuiRunState::SetWaitCursor(bool wait) {
    OnWindowThread([wait](Shown& shown) {
        if (wait == shown.waitCursor) return;
        shown.waitCursor = wait;
        if (wait)
            QApplication::setOverrideCursor(::Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
}

void GuiRunState::RestoreCursor() {
    if (!shown_->waitCursor) return;
    shown_->waitCursor = false;
    QApplication::restoreOverrideCursor();
}

void GuiRunState::Starting() {
    writing_ = Writing::NotYet;
    warning_.clear();
}

bool GuiRunState::AbandonUnwritten() {
    Writing expected = Writing::NotYet;
    if (!writing_.compare_exchange_strong(expected, Writing::Abandoned)) return false;
    RestoreCursor();
    shown_->abandoned = true;
    return true;
}

void GuiRunState::Lock(bool locked) {
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

// The label shows the status text each stage and table sets as it starts.
void GuiRunState::StageStarted(RunStage stage, const std::string& table) {
    RunState::StageStarted(stage, table);
    OnWindowThread([label = c_.TabLabel, status = FromCp1251(StatusText())](Shown&) {
        if (label->text() != status) label->setText(status);
    });
}

// The status line says it until the next stage sets its text; the summary says it again.
void GuiRunState::RowsAlreadyPresent(const std::vector<PresentRows>& present) {
    RunState::RowsAlreadyPresent(present);
    std::string text;
    for (const PresentRows& rows : present) text += (text.empty() ? "" : " ") + PresentRowsText(rows);
    c_.TabLabel->setText(FromCp1251(text));
}

// A run left to itself while it connected never begins to write.
void GuiRunState::WritingBegins() {
    Writing expected = Writing::NotYet;
    if (!writing_.compare_exchange_strong(expected, Writing::Begun) && expected == Writing::Abandoned)
        throw Interruption{};
}

void GuiRunState::SwitchLeft(const LeftSwitch& left) {
    RunState::SwitchLeft(left);
    OnWindowThread([label = c_.TabLabel, text = FromCp1251(LeftText(left))](Shown&) { label->setText(text); });
}

void GuiRunState::WaitingForLock(const std::string& table, std::chrono::seconds waited) {
    const auto seconds = static_cast<int>(waited.count());
    const std::string text = texts::Formatted(texts::kWaitingForLock, table.c_str(), seconds / 60, seconds % 60);
    OnWindowThread([label = c_.TabLabel, text = FromCp1251(text)](Shown&) { label->setText(text); });
}

void GuiRunState::DisplayChanged() {
    shown_->tableMax = TableProgress().Max();
    shown_->tablePosition = TableProgress().Position();
    shown_->allMax = AllProgress().Max();
    shown_->allPosition = AllProgress().Position();
    if (shown_->displayPosted.exchange(true)) return;
    OnWindowThread([table = c_.TablePB, all = c_.AllPB](Shown& shown) {
        shown.displayPosted = false;
        Show(table, shown.tableMax, shown.tablePosition);
        Show(all, shown.allMax, shown.allPosition);
    });
}

void GuiRunState::ShowAll() {
    c_.TabLabel->setText(FromCp1251(StatusText()));
    Show(c_.TablePB, TableProgress().Max(), TableProgress().Position());
    Show(c_.AllPB, AllProgress().Max(), AllProgress().Position());
}

} // namespace kestrix::gui
