#include "run/RunAccount.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <nlohmann/json.hpp>

#include "db/Charset.h"
#include "run/Texts.h"

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

void RunAccount::SwitchLeft(const LeftSwitch& left) {
    for (const LeftSwitch& told : left_)
        if (told.index == left.index) return;
    left_.push_back(left);
}

void RunAccount::ReadBackDue(std::size_t row) {
    if (row < tables_.size()) ++tables_[row].readBacksDue;
}

void RunAccount::TableVerified(std::size_t row, const TableVerification& result) {
    if (row >= tables_.size()) return;
    if (result.inFull && tables_[row].readBacksDue > 0) --tables_[row].readBacksDue;
    std::optional<TableVerification>& kept = tables_[row].verification;
    if (!kept) {
        kept = result;
        return;
    }
    kept->verified += result.verified;
    kept->differ += result.differ;
    kept->seconds += result.seconds;
    kept->inFull = kept->inFull && result.inFull;
    for (const RowDifference& d : result.listed)
        if (kept->listed.size() < kListedDifferences) kept->listed.push_back(d);
}

bool RunAccount::Verified() const {
    return std::any_of(tables_.begin(), tables_.end(),
                       [](const TableAccount& t) { return t.verification.has_value() || !t.VerifiedInFull(); });
}

std::vector<std::string> RunAccount::NotVerified() const {
    std::vector<std::string> names;
    for (const TableAccount& t : tables_)
        if (!t.VerifiedInFull()) names.push_back(t.table);
    return names;
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

int RunAccount::Written() const {
    int written = 0;
    for (const TableAccount& t : tables_) written += t.written;
    return written;
}

int RunAccount::Refused() const {
    int refused = 0;
    for (const TableAccount& t : tables_) refused += t.refused;
    return refused;
}

std::string IsoDate(const db::DateTime& day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
    return text;
}

namespace {

using Json = nlohmann::ordered_json;

// Seconds to the millisecond.
double Seconds(double seconds) { return std::round(seconds * 1000) / 1000; }

Json VerificationJson(const TableVerification& v) {
    Json differences = Json::array();
    for (const RowDifference& d : v.listed)
        differences.push_back({{"key", ToUtf8(d.key)},
                               {"column", ToUtf8(d.column)},
                               {"source", ToUtf8(d.source)},
                               {"destination", ToUtf8(d.destination)}});
    return {{"verified", v.verified}, {"differ", v.differ}, {"verify_seconds", Seconds(v.seconds)},
            {"differences", differences}};
}

Json TableJson(const TableAccount& t, std::chrono::steady_clock::time_point runStart) {
    Json unmapped = Json::object();
    for (const auto& [column, rows] : t.unmapped) unmapped[ToUtf8(column)] = rows;
    Json table = {{"name", ToUtf8(t.table)},
                  {"read", t.Read()},
                  {"written", t.written},
                  {"refused", t.refused},
                  {"lost", t.Lost()},
                  {"seconds", Seconds(t.seconds)},
                  {"started", Seconds(std::max(0.0, std::chrono::duration<double>(t.startedAt - runStart).count()))},
                  {"unmapped", unmapped},
                  {"accounted", t.Accounted()}};
    if (!t.error.empty()) table["error"] = ToUtf8(t.error);
    if (t.verification) table.update(VerificationJson(*t.verification));
    if (t.verification || !t.VerifiedInFull()) table["verified_in_full"] = t.VerifiedInFull();
    return table;
}

} // namespace

std::string AccountedLine(const RunAccount& account) {
    const std::vector<std::string> missing = account.NotAccounted();
    if (missing.empty() && account.Refused() == 0) return "Every row is accounted for.";
    if (missing.empty())
        return "Every row is accounted for: " + std::to_string(account.Written()) + " written, " +
               std::to_string(account.Refused()) + " refused (see the run log).";
    std::string line = "Not accounted for:";
    for (std::size_t i = 0; i < missing.size(); ++i) line += (i ? ", " : " ") + ToUtf8(missing[i]);
    return line;
}

namespace {

std::string Names(const std::vector<std::string>& tables) {
    std::string names;
    for (const std::string& table : tables) names += (names.empty() ? "" : ", ") + ToUtf8(table);
    return names;
}

} // namespace

std::string AccountedText(const RunAccount& account) {
    const std::vector<std::string> missing = account.NotAccounted();
    if (missing.empty() && account.Refused() == 0) return texts::kAllAccounted;
    if (missing.empty()) return texts::Formatted(texts::kAllAccountedRefused, account.Written(), account.Refused());
    std::string text = texts::kNotAccounted;
    for (std::size_t i = 0; i < missing.size(); ++i) text += (i ? ", " : "") + missing[i];
    return text;
}

std::string LeftLine(const LeftSwitch& left) {
    const std::string reason = " (" + (left.reason.empty() ? std::string("another client is attached") : ToUtf8(left.reason)) + ")";
    if (left.index.empty())
        return "Left off: forced writes of the destination" + reason +
               "; a run of the database's owner or the server's administrator switches them on when no other "
               "client is attached";
    return "Left inactive: index " + ToUtf8(left.index) + " of " + ToUtf8(left.table) + reason +
           "; the next run of the table's owner or the server's administrator makes it active";
}

std::string LeftText(const LeftSwitch& left) {
    const std::string reason = " (" + (left.reason.empty() ? texts::kForcedWritesOthersAttached : left.reason) + ")";
    if (left.index.empty()) return texts::kLeftForcedWritesOff + reason;
    return texts::Formatted(texts::kLeftIndexInactive, left.index.c_str(), left.table.c_str()) + reason;
}

std::string PresentRowsLine(const PresentRows& p) {
    return ToUtf8(p.table) + ": " + std::to_string(p.present) + " of the " + std::to_string(p.rows) + " rows from " +
           IsoDate(p.from) + " are already in the destination; a run will refuse them";
}

std::string PresentRowsText(const PresentRows& p) {
    char date[16];
    std::snprintf(date, sizeof date, "%02d.%02d.%04d", p.from.day, p.from.month, p.from.year);
    std::string text = texts::kRowsPresent;
    const std::string values[] = {p.table, std::to_string(p.present), std::to_string(p.rows), date};
    for (int i = 0; i < 4; ++i) text.replace(text.find("%" + std::to_string(i + 1)), 2, values[i]);
    return text;
}

std::string VerifiedLine(const RunAccount& account) {
    std::vector<std::string> differing;
    int verified = 0, refused = 0;
    for (const TableAccount& t : account.Tables()) {
        if (!t.verification) continue;
        if (t.verification->differ > 0) differing.push_back(t.table);
        verified += t.verification->verified;
        refused += t.refused;
    }
    const std::vector<std::string> unread = account.NotVerified();
    const std::string notVerified = "Not verified: " + Names(unread) + " (the read-back was interrupted)";
    if (differing.empty() && !unread.empty()) return notVerified;
    if (differing.empty()) {
        std::string line = "Verified: the " + std::to_string(verified) + " rows written are in the destination as written";
        if (refused > 0) line += "; " + std::to_string(refused) + " refused rows were not written";
        return line + ".";
    }
    const std::string line = "Differences: " + std::to_string(account.Differ()) + " rows in " + Names(differing);
    return unread.empty() ? line : line + "\n" + notVerified;
}

std::string JournalsLine(const std::optional<db::DateTime>& eventsFrom) {
    return eventsFrom ? "Journals from: " + IsoDate(*eventsFrom) : std::string("Journals: not transferred");
}

std::string AccountJson(const RunAccount& account, int exitCode) {
    Json tables = Json::array();
    int read = 0, lost = 0;
    for (const TableAccount& t : account.Tables()) {
        tables.push_back(TableJson(t, account.runStart_));
        read += t.Read();
        lost += t.Lost();
    }
    Json present = Json::array();
    for (const PresentRows& p : account.Present())
        present.push_back({{"name", ToUtf8(p.table)}, {"present", p.present}, {"rows", p.rows}, {"from", IsoDate(p.from)}});
    Json left = Json::array();
    for (const LeftSwitch& l : account.Left())
        left.push_back({{"index", l.index.empty() ? Json(nullptr) : Json(ToUtf8(l.index))},
                        {"table", l.index.empty() ? Json(nullptr) : Json(ToUtf8(l.table))},
                        {"reason", ToUtf8(l.reason)}});
    const Json json = {{"outcome", OutcomeName(account.Outcome().value_or(RunOutcome::Failed))},
                       {"exit_code", exitCode},
                       {"accounted", account.NotAccounted().empty()},
                       {"cancel_too_late", account.CancelTooLate()},
                       {"read", read},
                       {"written", account.Written()},
                       {"refused", account.Refused()},
                       {"lost", lost},
                       {"present", present},
                       {"left", left},
                       {"events_from", account.EventsFrom() ? Json(IsoDate(*account.EventsFrom())) : Json(nullptr)},
                       {"tables", tables}};
    // Texts are UTF-8 already; a byte that is not would become U+FFFD rather than end the run.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace kestrix
