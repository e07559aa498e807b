#include "cli/CliRunState.h"

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "run/Encoding.h"

namespace kestrix::cli {
namespace {

std::string Bar(const Progress& progress, int width) {
    int filled = progress.Max() > 0 ? progress.Position() * width / progress.Max() : 0;
    return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

std::string Utf8(const std::string& cp1251) {
    try {
        return ToUtf8(cp1251);
    } catch (const std::exception&) {
        return cp1251;
    }
}

} // namespace

CliRunState::CliRunState(bool liveLine, const std::atomic<bool>* cancelRequested)
    : liveLine_(liveLine), cancelRequested_(cancelRequested) {}

void CliRunState::PumpMessages() {
    if (cancelRequested_ && *cancelRequested_ && !CancelFlag) {
        CancelFlag = true;
        EndProgressLine();
        std::cerr << "kestrix-cli: interrupting at the next safe point...\n";
    }
}

void CliRunState::ShowInterruptionWarning(const std::string& text) {
    EndProgressLine();
    std::string shown = Utf8(text);
    for (char& c : shown)
        if (c == '\r') c = '\n';
    std::cerr << shown << "\n";
}

void CliRunState::RowDone(bool written) {
    if (!inTable_) return;
    TableSummary& table = tables_.back();
    ++table.read;
    ++(written ? table.written : table.refused);
}

void CliRunState::DisplayChanged() {
    if (liveLine_) {
        auto now = std::chrono::steady_clock::now();
        if (now - lastDraw_ >= std::chrono::milliseconds(100)) {
            lastDraw_ = now;
            DrawLiveLine();
        }
    }
}

void CliRunState::StageStarted(RunStage stage, const std::string& table) {
    if (stage == RunStage::PreScript) return;   // it shows no status of its own
    const bool isTable = stage == RunStage::Table;
    // A table started again right after itself goes on in its row.
    if (isTable && lastTable_ && *lastTable_ == table) return;
    lastTable_ = isTable ? std::optional<std::string>(table) : std::nullopt;
    CloseTable();
    // A line of the table list without a table name gets neither a row nor a progress line.
    const bool named = !isTable || !table.empty();
    if (isTable && named) {
        tables_.push_back(TableSummary{table});
        tableStart_ = std::chrono::steady_clock::now();
        inTable_ = true;
    }
    if (liveLine_)
        DrawLiveLine();
    else if (named)
        std::cerr << "[" << AllProgress().Position() << "/" << AllProgress().Max() << "] " << Utf8(StatusText())
                  << "\n";
}

void CliRunState::CloseTable() {
    if (!inTable_) return;
    tables_.back().seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tableStart_).count();
    inTable_ = false;
}

void CliRunState::DrawLiveLine() {
    std::ostringstream line;
    line << "\r\033[K" << Utf8(StatusText()) << " " << Bar(TableProgress(), 20) << " "
         << TableProgress().Position() << "/" << TableProgress().Max() << "  all " << Bar(AllProgress(), 20)
         << " " << AllProgress().Position() << "/" << AllProgress().Max();
    std::cerr << line.str() << std::flush;
    lineOpen_ = true;
}

void CliRunState::EndProgressLine() {
    if (lineOpen_) std::cerr << "\n";
    lineOpen_ = false;
}

void CliRunState::PrintSummary(std::ostream& out) {
    CloseTable();
    EndProgressLine();
    out << std::left << std::setw(20) << "table" << std::right << std::setw(10) << "read" << std::setw(10)
        << "written" << std::setw(10) << "refused" << std::setw(10) << "seconds" << "\n";
    for (const TableSummary& t : tables_) {
        std::string name = Utf8(t.table);
        out << std::left << std::setw(20) << name << std::right << std::setw(10) << t.read << std::setw(10)
            << t.written << std::setw(10) << t.refused << std::setw(10) << std::fixed << std::setprecision(2)
            << t.seconds << "\n";
    }
}

} // namespace kestrix::cli
