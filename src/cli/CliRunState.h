#pragma once
// The run state of the command line: progress on stderr, the run's account on stdout, both
// in English, and the run's cancel request announced at the first pump that finds it set.
#include <chrono>
#include <atomic>
#include <optional>
#include <ostream>
#include <string>

#include "run/Context.h"
#include "run/RunOptions.h"
#include "run/RunState.h"

namespace kestrix::cli {

class CliRunState : public RunState {
public:
    explicit CliRunState(bool liveLine) : liveLine_(liveLine) {}
    // The cancel request of the run this state shows, announced once it is seen.
    void ShowCancelOf(const CancelToken& cancel) { cancel_ = &cancel; }

    void PumpMessages() override;
    void ShowInterruptionWarning(const std::string& text) override;
    void StageStarted(RunStage stage, const std::string& table) override;
    void RowsAlreadyPresent(const std::vector<PresentRows>& present) override;
    void WritingBegins() override;
    // Said on stderr as a warning when it happens; the account says it again.
    void SwitchLeft(const LeftSwitch& left) override;
    void WaitingForLock(const std::string& table, std::chrono::seconds waited) override;

    // For the signal thread: whether the process may end at once, because the run has not
    // begun to write (it is connecting, and a server that does not answer keeps a connect
    // waiting for minutes). Once true, the run never begins to write: its thread waits
    // before its first change of the destination for the process to end.
    bool AbandonUnwritten();

    // The progress lines a redirected run of these options prints, each numbered once in turn:
    // the clearing pass, a named line of the table list (a table right after itself goes on in
    // its line), the journals, a read-back per copy, the post-transfer script, the generators
    // and the end. A run that prints more (a table list changed meanwhile) counts on.
    void PlanSteps(const RunOptions& options);

    // Ends a live progress line so that the next output starts on a line of its own.
    void EndProgressLine();
    // The account of the run: a header, a row per table (table, read, written, refused,
    // seconds, unmapped), the -1 references per column under their table, and the line
    // that tells whether every row is accounted for.
    void PrintSummary(std::ostream& out);

protected:
    void DisplayChanged() override;

private:
    void DrawLiveLine();
    // The stage or the table being copied, in English (table names as they are).
    std::string StageLabel() const;
    // The overall position shown: after the transfer sequence, which sets the bar back to
    // 0, the largest one reached, and all steps once the run finished.
    int ShownAllPosition() const;

    enum class Writing { NotYet, Begun, Abandoned };
    std::atomic<Writing> writing_{Writing::NotYet};
    bool liveLine_;
    const CancelToken* cancel_ = nullptr;
    bool cancelShown_ = false;
    bool lineOpen_ = false;
    std::optional<std::string> lastTable_;   // the table of the last stage event, if a table
    std::string readBack_;                    // the table the read-back is at
    RunStage stage_ = RunStage::PreScript;
    int allPeak_ = 0;
    int linesPrinted_ = 0;   // redirected: the progress lines so far
    int linesPlanned_ = 0;
    // Live: the table display still holds the table before; its counts are not shown until
    // the new stage sets them.
    bool tableStale_ = false;
    bool settling_ = false;   // the stage's first counts are still to be drawn
    std::pair<int, int> staleTable_;   // the position and maximum left by the stage before
    std::chrono::steady_clock::time_point lastDraw_;
};

} // namespace kestrix::cli
