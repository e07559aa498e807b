#pragma once
// The run state bound to the main window's controls, for a run on a thread of its own: the
// run's thread changes the displays and the window thread shows them, through queued calls.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "run/RunState.h"

class QAction;
class QLabel;
class QProgressBar;
class QWidget;

namespace kestrix::gui {

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

    // Window thread (the start-up checks): the pending window messages are processed. The
    // run's thread has none: the window runs on.
    void PumpMessages() override;
    void SetWaitCursor(bool wait) override;
    // The window locks itself before the run's thread starts and unlocks once it has ended.
    void LockControls(bool /*locked*/) override {}
    // Kept for the window, which shows it once the run's thread has ended.
    void ShowInterruptionWarning(const std::string& text) override { warning_ = text; }
    void StageStarted(RunStage stage, const std::string& table) override;
    void RowsAlreadyPresent(const std::vector<PresentRows>& present) override;
    void WritingBegins() override;
    // Said in the status line until the next stage sets its text; the summary says it again.
    void SwitchLeft(const LeftSwitch& left) override;
    void WaitingForLock(const std::string& table, std::chrono::seconds waited) override;

    // Window thread only.
    void Lock(bool locked);
    bool Locked() const { return locked_; }
    // Every display as the state holds it, the default cursor, and the warning of the run
    // forgotten; for when the run's thread has ended.
    void ShowAll();
    void RestoreCursor();
    const std::string& InterruptionWarning() const { return warning_; }
    // Before the run's thread starts: not written yet, no warning.
    void Starting();
    // Whether the run may be left to itself because it has not begun to write (it connects,
    // and a server that does not answer keeps a connect waiting for minutes). Once true, the
    // state shows nothing more and the run never begins to write: it ends as interrupted
    // before its first change of the destination.
    bool AbandonUnwritten();

protected:
    void DisplayChanged() override;

private:
    // What the queued calls share with the state, which may be gone by the time they run.
    struct Shown;
    // Runs the call on the window thread, unless the run was left to itself by then.
    template <class Call> void OnWindowThread(Call&& call);

    enum class Writing { NotYet, Begun, Abandoned };
    Controls c_;
    std::shared_ptr<Shown> shown_;
    std::atomic<Writing> writing_{Writing::NotYet};
    std::string warning_;
    bool locked_ = false;
};

} // namespace kestrix::gui
