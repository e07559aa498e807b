#pragma once
// The run state of the command line: progress on stderr, a per-table summary on stdout,
// and a cancel request turned into the cancel flag at the next pump.
#include <chrono>
#include <atomic>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "run/RunState.h"

namespace kestrix::cli {

struct TableSummary {
    std::string table;   // Windows-1251
    int read = 0, written = 0, refused = 0;
    double seconds = 0;
};

class CliRunState : public RunState {
public:
    CliRunState(bool liveLine, const std::atomic<bool>* cancelRequested);

    void PumpMessages() override;
    void ShowInterruptionWarning(const std::string& text) override;
    void StageStarted(RunStage stage, const std::string& table) override;
    void RowDone(bool written) override;

    // Ends a live progress line so that the next output starts on a line of its own.
    void EndProgressLine();
    void PrintSummary(std::ostream& out);
    const std::vector<TableSummary>& Tables() const { return tables_; }

protected:
    void DisplayChanged() override;

private:
    void CloseTable();
    void DrawLiveLine();

    bool liveLine_;
    const std::atomic<bool>* cancelRequested_;
    bool lineOpen_ = false;
    std::optional<std::string> lastTable_;   // the table of the last stage event, if a table
    std::chrono::steady_clock::time_point tableStart_;
    bool inTable_ = false;
    std::vector<TableSummary> tables_;
    std::chrono::steady_clock::time_point lastDraw_;
};

} // namespace kestrix::cli
