#pragma once
// The run state bound to the main window's controls.
#include <functional>
#include <vector>

#include "run/RunState.h"

class QAction;
class QLabel;
class QProgressBar;
class QWidget;

namespace kestrix::gui {

// The waiter of a run's long client calls (db::SetLongCallWaiter): the call runs on a thread
// of its own while the window thread goes on processing its messages, so that the window
// repaints and a press of the cancel button is taken while a statement waits. A call made
// from a handler of those messages, or from another thread, runs directly.
void WaitProcessingMessages(const std::function<void()>& call);

class GuiRunState : public RunState {
public:
    struct Controls {
        QWidget* window = nullptr;
        QLabel* TabLabel = nullptr;
        QProgressBar* TablePB = nullptr;
        QProgressBar* AllPB = nullptr;
        // Disabled during a run: the file fields, the options and the start button.
        std::vector<QWidget*> locked;
        // The top-level menu items, disabled with them.
        std::vector<QAction*> lockedMenus;
        QWidget* CancelMoveBitBtn = nullptr;
    };

    explicit GuiRunState(Controls controls);
    ~GuiRunState() override;

    void PumpMessages() override;
    void SetWaitCursor(bool wait) override;
    void LockControls(bool locked) override;
    void ShowInterruptionWarning(const std::string& text) override;
    void StageStarted(RunStage stage, const std::string& table) override;
    void RowsAlreadyPresent(const std::vector<PresentRows>& present) override;

    bool Locked() const { return locked_; }

protected:
    void DisplayChanged() override;

private:
    Controls c_;
    bool waitCursor_ = false;
    bool locked_ = false;
};

} // namespace kestrix::gui
