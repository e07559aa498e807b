#include "cli/CliRunState.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

#include "db/Charset.h"
#include "db/Strings.h"
#include "transfer/RunPlan.h"

namespace kestrix::cli {
namespace {

std::string Bar(int position, int max, int width) {
    int filled = max > 0 ? position * width / max : 0;
    return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

} // namespace

void CliRunState::PumpMessages() {
    if (cancel_ && cancel_->Requested() && !cancelShown_) {
        cancelShown_ = true;
        EndProgressLine();
        std::cerr << "kestrix-cli: interrupting at the next safe point...\n";
    }
}

void CliRunState::ShowInterruptionWarning(const std::string& /*text*/) {
    EndProgressLine();
    std::cerr << "kestrix-cli: the transfer was interrupted by the user; refresh the destination database "
                 "before the transfer is started again\n";
}

void CliRunState::DisplayChanged() {
    allPeak_ = std::max(allPeak_, AllProgress().Position());
    const std::pair counts(TableProgress().Position(), TableProgress().Max());
    if (tableStale_ && counts != staleTable_) tableStale_ = false;
    if (liveLine_ && !tableStale_ && settling_) {
        // A stage's first counts are drawn at once: its maximum (which may hold the position
        // before at the maximum), then its position from 0.
        settling_ = counts.second > 0 && counts.first == counts.second;
        lastDraw_ = std::chrono::steady_clock::now();
        DrawLiveLine();
        return;
    }
    if (liveLine_) {
        auto now = std::chrono::steady_clock::now();
        if (now - lastDraw_ >= std::chrono::milliseconds(100)) {
            lastDraw_ = now;
            DrawLiveLine();
        }
    }
}

void CliRunState::RowsAlreadyPresent(const std::vector<PresentRows>& present) {
    RunState::RowsAlreadyPresent(present);
    EndProgressLine();
    for (const PresentRows& rows : present) std::cerr << "kestrix-cli: " << PresentRowsLine(rows) << "\n";
}

bool CliRunState::AbandonUnwritten() {
    Writing expected = Writing::NotYet;
    return writing_.compare_exchange_strong(expected, Writing::Abandoned);
}

void CliRunState::WritingBegins() {
    Writing expected = Writing::NotYet;
    if (!writing_.compare_exchange_strong(expected, Writing::Begun))
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));   // the process is ending
}

void CliRunState::SwitchLeft(const LeftSwitch& left) {
    RunState::SwitchLeft(left);
    EndProgressLine();
    std::cerr << "kestrix-cli: warning: " << LeftLine(left) << "\n";
}

void CliRunState::WaitingForLock(const std::string& table, std::chrono::seconds waited) {
    EndProgressLine();
    std::cerr << "kestrix-cli: waiting for a lock in the destination: " << ToUtf8(table) << ", " << waited.count()
              << " s\n";
}

void CliRunState::StageStarted(RunStage stage, const std::string& table) {
    RunState::StageStarted(stage, table);
    if (stage == RunStage::PreScript) return;   // it shows no status of its own
    stage_ = stage;
    const bool isTable = stage == RunStage::Table;
    // A table started again right after itself goes on in its line.
    if (isTable && lastTable_ && *lastTable_ == table) return;
    lastTable_ = isTable ? std::optional<std::string>(table) : std::nullopt;
    if (stage == RunStage::Verification) readBack_ = table;
    tableStale_ = settling_ = true;
    staleTable_ = {TableProgress().Position(), TableProgress().Max()};
    // A line of the table list without a table name gets no progress line.
    const bool named = !isTable || !table.empty();
    if (liveLine_) {
        DrawLiveLine();
    } else if (named) {
        ++linesPrinted_;
        std::cerr << "[" << linesPrinted_ << "/" << std::max(linesPlanned_, linesPrinted_) << "] " << StageLabel()
                  << "\n";
    }
}

void CliRunState::PlanSteps(const RunOptions& options) {
    int copies = 0, lines = 0;
    std::string previous;
    // A table list that cannot be read has no lines here; the run reports it.
    const transfer::RunPlan plan = transfer::PlanRun(options);
    for (const transfer::PlannedLine& planned : plan.lines) {
        const transfer::TableListLine& line = planned.line;
        if (line.comment) continue;
        copies += planned.steps.copy || planned.steps.macros;
        if (!line.table.empty() && line.table != previous) ++lines;
        previous = line.table;
    }
    const int journals = static_cast<int>(plan.journals.size());
    const int finishing = 3;   // the post-transfer script, the generators, the end
    linesPlanned_ = 1 + lines + journals + (options.verify ? copies + journals : 0) + finishing;
}

std::string CliRunState::StageLabel() const {
    switch (stage_) {
    case RunStage::PreScript: return "Pre-transfer script";
    case RunStage::ClearPass: return "Clearing the destination";
    case RunStage::Table: return ToUtf8(lastTable_.value_or(""));
    case RunStage::Verification: return "Reading back " + ToUtf8(readBack_);
    case RunStage::PostScript: return "Post-transfer script";
    case RunStage::Generators: return "Resetting the generators";
    case RunStage::Finished: return "Transfer finished";
    case RunStage::Interrupted: break;
    }
    return "Transfer interrupted";
}

int CliRunState::ShownAllPosition() const {
    switch (stage_) {
    case RunStage::Finished: return AllProgress().Max();
    case RunStage::PostScript:
    case RunStage::Generators:
    case RunStage::Interrupted: return std::max(allPeak_, AllProgress().Position());
    default: return AllProgress().Position();
    }
}

void CliRunState::DrawLiveLine() {
    std::ostringstream line;
    const int all = ShownAllPosition();
    const int position = tableStale_ ? 0 : TableProgress().Position();
    const int max = tableStale_ ? 0 : TableProgress().Max();
    line << "\r\033[K" << StageLabel() << " " << Bar(position, max, 20) << " " << position << "/" << max << "  all "
         << Bar(all, AllProgress().Max(), 20) << " " << all << "/" << AllProgress().Max();
    std::cerr << line.str() << std::flush;
    lineOpen_ = true;
}

void CliRunState::EndProgressLine() {
    if (lineOpen_) std::cerr << "\n";
    lineOpen_ = false;
}

namespace {

// A difference under its table: the key, and the column with both values, or the row missing.
void PrintDifference(std::ostream& out, const RowDifference& d) {
    if (d.key.empty() && d.column.empty()) out << "  differs: " << ToUtf8(d.source) << "\n";
    else if (d.column.empty())
        out << "  differs: key " << ToUtf8(d.key) << ": " << (d.source.empty() ? "missing in the destination" : ToUtf8(d.source))
            << "\n";
    else
        out << "  differs: key " << ToUtf8(d.key) << ", " << ToUtf8(d.column) << ": source " << ToUtf8(d.source)
            << ", destination " << ToUtf8(d.destination) << "\n";
}

} // namespace

void CliRunState::PrintSummary(std::ostream& out) {
    EndProgressLine();
    const bool verified = Account().Verified();
    out << std::left << std::setw(20) << "table" << std::right << std::setw(10) << "read" << std::setw(10)
        << "written" << std::setw(10) << "refused" << std::setw(10) << "seconds" << std::setw(10) << "unmapped";
    if (verified) out << std::setw(10) << "verified" << std::setw(10) << "differ";
    out << "\n";
    for (const TableAccount& t : Account().Tables()) {
        out << std::left << std::setw(20) << ToUtf8(t.table) << std::right << std::setw(10) << t.Read()
            << std::setw(10) << t.written << std::setw(10) << t.refused << std::setw(10) << std::fixed
            << std::setprecision(2) << t.seconds << std::setw(10) << t.Unmapped();
        if (t.verification) out << std::setw(10) << t.verification->verified << std::setw(10) << t.verification->differ;
        out << "\n";
        // Under the table, indented: one line per reference column that got -1.
        for (const auto& [column, rows] : t.unmapped) out << "  -1 in " << ToUtf8(column) << ": " << rows << "\n";
        if (!t.error.empty()) out << "  failed: " << ToUtf8(OneLine(t.error)) << "\n";
        if (t.verification)
            for (const RowDifference& d : t.verification->listed) PrintDifference(out, d);
    }
    if (Account().CancelTooLate()) out << "Interrupt requested after the last stage had begun: the transfer finished.\n";
    out << AccountedLine(Account()) << "\n";
    if (verified) out << VerifiedLine(Account()) << "\n";
    for (const LeftSwitch& left : Account().Left()) out << LeftLine(left) << "\n";
}

} // namespace kestrix::cli
