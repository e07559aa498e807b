#include "run/RunAccount.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "db/Charset.h"

namespace kestrix {

const char* OutcomeName(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Finished: return "finished";
    case RunOutcome::Interrupted: return "interrupted";
    case RunOutcome::Failed: return "failed";
    }
    return "failed";
}

int TableAccount::Unmapped() const {
    return std::accumulate(unmapped.begin(), unmapped.end(), 0,
                           [](int sum, const auto& column) { return sum + column.second; });
}

void RunAccount::Start() { *this = RunAccount(); }

void RunAccount::StageStarted(RunStage stage, const std::string& table) {
    if (stage == RunStage::PreScript) return;   // before the sequence: nothing to account
    const bool isTable = stage == RunStage::Table;
    // An interruption is told of after the table it ended; that table stays the current one.
    if (stage != RunStage::Interrupted) lastIsCurrent_ = false;
    if (isTable && lastTable_ && *lastTable_ == table) {
        lastIsCurrent_ = inTable_;
        lineDone_ = false;
        return;
    }
    lastTable_ = isTable ? std::optional<std::string>(table) : std::nullopt;
    CloseTable();
    if (!isTable || table.empty()) return;
    tables_.push_back(TableAccount{table});
    tableStart_ = tables_.back().startedAt = std::chrono::steady_clock::now();
    inTable_ = lastIsCurrent_ = true;
    lineDone_ = false;
}

void RunAccount::RowRead() {
    if (!inTable_) return;
    TableAccount& table = tables_.back();
    table.fetched = std::max(table.fetched, 0) + 1;
}

void RunAccount::LineDone(bool cancelled) {
    if (inTable_ && !cancelled) lineDone_ = true;
}

void RunAccount::RowDone(bool written) {
    if (!inTable_) return;
    ++(written ? tables_.back().written : tables_.back().refused);
}

void RunAccount::WrittenUndone(int rows) {
    if (!inTable_) return;
    TableAccount& table = tables_.back();
    rows = std::clamp(rows, 0, table.written);
    table.written -= rows;
    table.undone += rows;
}

void RunAccount::ReferenceUnmapped(const std::string& table, const std::string& column) {
    if (!inTable_ || tables_.back().table != table) return;
    auto& columns = tables_.back().unmapped;
    for (auto& [name, count] : columns)
        if (name == column) {
            ++count;
            return;
        }
    columns.emplace_back(column, 1);
}

void RunAccount::TableFailed(const std::string& message) {
    if (!inTable_) return;
    TableAccount& table = tables_.back();
    table.cutShort = true;
    if (table.error.empty()) table.error = message;
}

void RunAccount::TableVerified(std::size_t row, const TableVerification& result) {
    if (row >= tables_.size()) return;
    std::optional<TableVerification>& kept = tables_[row].verification;
    if (!kept) {
        kept = result;
        return;
    }
    kept->verified += result.verified;
    kept->differ += result.differ;
    kept->seconds += result.seconds;
    for (const RowDifference& d : result.listed)
        if (kept->listed.size() < kListedDifferences) kept->listed.push_back(d);
}

bool RunAccount::Verified() const {
    return std::any_of(tables_.begin(), tables_.end(), [](const TableAccount& t) { return t.verification.has_value(); });
}

int RunAccount::Differ() const {
    int differ = 0;
    for (const TableAccount& t : tables_) differ += t.verification ? t.verification->differ : 0;
    return differ;
}

void RunAccount::TakeTable(const TableAccount& copied) {
    if (!inTable_) return;
    tables_.back() = copied;
    inTable_ = false;
    lineDone_ = !copied.cutShort;
}

void RunAccount::CloseTable() {
    if (!inTable_) return;
    tables_.back().seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - tableStart_).count();
    inTable_ = false;
}

void RunAccount::Close(RunOutcome outcome) {
    CloseTable();
    if (outcome != RunOutcome::Finished && lastIsCurrent_ && !lineDone_ && !tables_.empty())
        tables_.back().cutShort = true;
    outcome_ = outcome;
}

std::vector<std::string> RunAccount::NotAccounted() const {
    std::vector<std::string> names;
    for (const TableAccount& table : tables_)
        if (!table.Accounted()) names.push_back(table.table);
    return names;
}

namespace {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string VerificationJson(const TableVerification& v) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", v.seconds);
    std::string out = ", \"verified\": " + std::to_string(v.verified) + ", \"differ\": " + std::to_string(v.differ) +
                      ", \"verify_seconds\": " + seconds + ", \"differences\": [";
    for (std::size_t i = 0; i < v.listed.size(); ++i) {
        const RowDifference& d = v.listed[i];
        out += std::string(i ? ", " : "") + "{\"key\": " + JsonString(ToUtf8(d.key)) +
               ", \"column\": " + JsonString(ToUtf8(d.column)) + ", \"source\": " + JsonString(ToUtf8(d.source)) +
               ", \"destination\": " + JsonString(ToUtf8(d.destination)) + "}";
    }
    return out + "]";
}

std::string TableJson(const TableAccount& t, std::chrono::steady_clock::time_point runStart) {
    char seconds[32], started[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", t.seconds);
    std::snprintf(started, sizeof started, "%.3f",
                  std::max(0.0, std::chrono::duration<double>(t.startedAt - runStart).count()));
    std::string out = "{\"name\": " + JsonString(ToUtf8(t.table)) + ", \"read\": " + std::to_string(t.Read()) +
                      ", \"written\": " + std::to_string(t.written) + ", \"refused\": " + std::to_string(t.refused) +
                      ", \"lost\": " + std::to_string(t.Lost()) + ", \"seconds\": " + seconds + ", \"started\": " + started + ", \"unmapped\": {";
    for (std::size_t i = 0; i < t.unmapped.size(); ++i)
        out += (i ? ", " : "") + JsonString(ToUtf8(t.unmapped[i].first)) + ": " + std::to_string(t.unmapped[i].second);
    out += "}, \"accounted\": ";
    out += t.Accounted() ? "true" : "false";
    if (!t.error.empty()) out += ", \"error\": " + JsonString(ToUtf8(t.error));
    if (t.verification) out += VerificationJson(*t.verification);
    return out + "}";
}

} // namespace

std::string AccountedLine(const RunAccount& account) {
    const std::vector<std::string> missing = account.NotAccounted();
    if (missing.empty()) return "Every row is accounted for.";
    std::string line = "Not accounted for:";
    for (std::size_t i = 0; i < missing.size(); ++i) line += (i ? ", " : " ") + ToUtf8(missing[i]);
    return line;
}

std::string VerifiedLine(const RunAccount& account) {
    std::string tables;
    for (const TableAccount& t : account.Tables())
        if (t.verification && t.verification->differ > 0) tables += (tables.empty() ? " in " : ", ") + ToUtf8(t.table);
    if (tables.empty()) return "Verified: the destination holds every copied row as written.";
    return "Differences: " + std::to_string(account.Differ()) + " rows" + tables;
}

std::string IsoDate(const db::DateTime& day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
    return text;
}

std::string JournalsLine(const std::optional<db::DateTime>& eventsFrom) {
    return eventsFrom ? "Journals from: " + IsoDate(*eventsFrom) : std::string("Journals: not transferred");
}

std::string AccountJson(const RunAccount& account, int exitCode) {
    std::string out = "{\n  \"outcome\": \"";
    out += OutcomeName(account.Outcome().value_or(RunOutcome::Failed));
    out += "\",\n  \"exit_code\": " + std::to_string(exitCode) + ",\n  \"accounted\": ";
    out += account.NotAccounted().empty() ? "true" : "false";
    out += ",\n  \"cancel_too_late\": ";
    out += account.CancelTooLate() ? "true" : "false";
    out += ",\n  \"events_from\": ";
    out += account.EventsFrom() ? "\"" + IsoDate(*account.EventsFrom()) + "\"" : std::string("null");
    out += ",\n  \"tables\": [";
    const auto& tables = account.Tables();
    for (std::size_t i = 0; i < tables.size(); ++i) out += (i ? ",\n    " : "\n    ") + TableJson(tables[i], account.runStart_);
    return out + (tables.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

} // namespace kestrix
