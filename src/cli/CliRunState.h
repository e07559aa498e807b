#pragma once
// The run state of the command line: progress on stderr, the run's account on stdout, both
// in English, and a cancel request turned into the cancel flag at the next pump.
#include <chrono>
#include <atomic>
#include <optional>
#include <ostream>
#include <string>

#include "run/RunState.h"

namespace kestrix::cli {

class CliRunState : public RunState {
public:
    CliRunState(bool liveLine, const std::atomic<bool>* cancelRequested);

    void PumpMessages() override;
    void ShowInterruptionWarning(const std::string& text) override;
    void StageStarted(RunStage stage, const std::string& table) override;
    void RowsAlreadyPresent(const std::vector<PresentRows>& present) override;

    // For the signal thread: whether the process may end at once, because the run has not
    // begun to write (it is connecting, and a server that does not answer keeps a connect
    // waiting for minutes). Once true, the run never begins to write: its thread waits at
    // the start of the pre-transfer script for the process to end.
    bool AbandonUnwritten();

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
    const std::atomic<bool>* cancelRequested_;
    bool lineOpen_ = false;
    std::optional<std::string> lastTable_;   // the table of the last stage event, if a table
    std::string readBack_;                    // the table the read-back is at
    RunStage stage_ = RunStage::PreScript;
    int allPeak_ = 0;
    std::chrono::steady_clock::time_point lastDraw_;
};

} // namespace kestrix::cli
