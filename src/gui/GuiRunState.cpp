#include "gui/GuiRunState.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>

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

} // namespace

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
void GuiRunState::StageStarted(RunStage /*stage*/, const std::string& /*table*/) {
    QString status = Qt(StatusText());
    if (c_.TabLabel->text() != status) c_.TabLabel->setText(status);
}

void GuiRunState::DisplayChanged() {
    Show(c_.TablePB, TableProgress());
    Show(c_.AllPB, AllProgress());
}

} // namespace kestrix::gui
