#include "app/TransferCheck.h"

#include <algorithm>

#include "db/Charset.h"
#include "run/DataFiles.h"
#include "run/Texts.h"

// The check's report: its phrases in English and Russian, and the text of a whole result.
namespace kestrix {
namespace {

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// Each phrase of the check in both languages, in the order of CheckSays.
struct PhraseText {
    CheckSays says;
    const char* english;
    const std::string& russian;   // Windows-1251
};
const std::string kProblemsFound = texts::kCheckProblems + "%1";
const PhraseText kPhrases[] = {
    {CheckSays::Clear, "clear", texts::kCheckClear},
    {CheckSays::ClearWhere, "clear rows where %1", texts::kCheckClearWhere},
    {CheckSays::ClearZones, "clear ZONES", texts::kCheckClearZones},
    {CheckSays::ClearAgain, "clear again (all rows)", texts::kCheckClearAgain},
    {CheckSays::ClearOnly, "clear only (all rows)", texts::kCheckClearOnly},
    {CheckSays::Macros, "macro transfer (all macros, new keys, device keys in the texts translated)", texts::kCheckMacros},
    {CheckSays::Copy, "copy", texts::kCheckCopy},
    {CheckSays::CopyNewKeys, "copy with new keys", texts::kCheckCopyNewKeys},
    {CheckSays::UpdateFiveColumns, "update five columns in place", texts::kCheckUpdateFiveColumns},
    {CheckSays::UpdatePhotos, "update the photos of the copied owners", texts::kCheckUpdatePhotos},
    {CheckSays::OfRowsWhere, " of the rows where %1", texts::kCheckOfRowsWhere},
    {CheckSays::PhotosFromOwner, " (photos taken from OWNER of the source)", texts::kCheckPhotosFromOwner},
    {CheckSays::UpdateColumn, "update column %1 by %2", texts::kCheckUpdateColumn},
    {CheckSays::NeverCleared, "never cleared by the table list", texts::kCheckNeverCleared},
    {CheckSays::JournalNotHere, "not copied here: journals move only with the events option", texts::kCheckJournalNotHere},
    {CheckSays::NotCopied, "not copied", texts::kCheckNotCopied},
    {CheckSays::JournalCopy, "journal block: copy the rows from %1", texts::kCheckJournalCopy},
    {CheckSays::NoTableName, "no table name (the line has no '=')", texts::kCheckNoTableName},
    {CheckSays::TableMissingSource, "table %1 does not exist in the source", texts::kCheckTableMissingSource},
    {CheckSays::TableMissingDest, "table %1 does not exist in the destination", texts::kCheckTableMissingDest},
    {CheckSays::KeyMissingSource, "key column %1 does not exist in %2 of the source", texts::kCheckKeyMissingSource},
    {CheckSays::KeyMissingDest, "key column %1 does not exist in %2 of the destination", texts::kCheckKeyMissingDest},
    {CheckSays::NotWrittenExactly, "'%1' is not written exactly as %2: the run treats it as an ordinary table (no new keys, no translated references)", texts::kCheckNotWrittenExactly},
    {CheckSays::FlagInCondition, "the '%1' inside the condition is taken as the line's flag and changes what the line does", texts::kCheckFlagInCondition},
    {CheckSays::RowsUnreadable, "the source rows cannot be read: %1", texts::kCheckRowsUnreadable},
    {CheckSays::TooFewColumns, "fewer common columns than the in-place update of five columns needs", texts::kCheckTooFewColumns},
    {CheckSays::KeyNotFirst, "the key column is not the first common column: the run maps %1", texts::kCheckKeyNotFirst},
    {CheckSays::UpdateMissingSource, "update column %1 does not exist in %2 of the source: nothing is updated", texts::kCheckUpdateMissingSource},
    {CheckSays::UpdateMissingDest, "update column %1 does not exist in %2 of the destination: nothing is updated", texts::kCheckUpdateMissingDest},
    {CheckSays::UpdateColumnNotExact, "update column '%1' matches a column of %2 only after trimming or ignoring letter case: the run compares names exactly and updates nothing", texts::kCheckUpdateColumnNotExact},
    {CheckSays::ReferencesBecomeMinusOne, "references to %1 are translated, but %1 is not copied before this line: they become -1", texts::kCheckReferencesBecomeMinusOne},
    {CheckSays::ClearedNeverRefilled, "%1 is cleared and never refilled", texts::kCheckClearedNeverRefilled},
    {CheckSays::GeneratorTableMissing, "%1 line %2: table '%3' does not exist in the destination", texts::kCheckGeneratorTableMissing},
    {CheckSays::GeneratorColumnMissing, "%1 line %2: column '%3' does not exist in %4", texts::kCheckGeneratorColumnMissing},
    {CheckSays::GeneratorMissing, "%1 line %2: generator '%3' does not exist in the destination", texts::kCheckGeneratorMissing},
    {CheckSays::ScriptMissing, "script file %1 is missing", texts::kCheckScriptMissing},
    {CheckSays::RowsPresent, "%1: %2 of the %3 rows from %4 are already in the destination; a run will refuse them", texts::kRowsPresent},
    {CheckSays::IndexLeftInactive, "index %1 of %2 was left inactive by a run that did not end or could not make it active; the next run makes it active", texts::kCheckIndexLeftInactive},
    {CheckSays::ForcedWritesLeftOff, "forced writes of the destination were left off by a run that did not end; the next run switches them on when no other client is attached", texts::kCheckForcedWritesLeftOff},
    {CheckSays::PresentUncountable, "the destination's rows cannot be compared: %1", texts::kCheckPresentUncountable},
    {CheckSays::LineHeading, "%1 line %2", texts::kCheckLineHeading},
    {CheckSays::JournalBlockHeading, "journal block", texts::kCheckJournalBlockHeading},
    {CheckSays::Comment, "comment", texts::kCheckComment},
    {CheckSays::Does, "does", texts::kCheckDoes},
    {CheckSays::Source, "source", texts::kCheckSource},
    {CheckSays::Destination, "destination", texts::kCheckDestination},
    {CheckSays::Copies, "copies", texts::kCheckCopies},
    {CheckSays::NotArriving, "not arriving", texts::kCheckNotArriving},
    {CheckSays::NoValue, "no value", texts::kCheckNoValue},
    {CheckSays::SourceRows, "source rows", texts::kCheckSourceRows},
    {CheckSays::Presence, "table %1, key %2 %3", texts::kCheckPresence},
    {CheckSays::Yes, "yes", texts::kCheckYes},
    {CheckSays::No, "NO", texts::kCheckNo},
    {CheckSays::RowsWhere, " (where %1)", texts::kCheckRowsWhere},
    {CheckSays::SetToOne, " (set to 1)", texts::kCheckSetToOne},
    {CheckSays::Problem, "PROBLEM", texts::kCheckProblem},
    {CheckSays::NoProblems, "No problems found.", texts::kCheckNoProblems},
    {CheckSays::OneProblem, "%1 problem found.", kProblemsFound},
    {CheckSays::Problems, "%1 problems found.", kProblemsFound},
};

// A template with %1, %2, ... filled; Windows-1251 in and out.
std::string Filled(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = args.size(); i-- > 0;) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + args[i].size()))
            text.replace(at, mark.size(), args[i]);
    }
    return text;
}

std::string Cp1251(const CheckPhrase& phrase, CheckLanguage language) {
    const auto t = std::find_if(std::begin(kPhrases), std::end(kPhrases),
                                [&](const PhraseText& p) { return p.says == phrase.says; });
    if (t == std::end(kPhrases)) return {};
    return Filled(language == CheckLanguage::Russian ? t->russian : std::string(t->english), phrase.args);
}

std::string Cp1251(const CheckText& text, CheckLanguage language) {
    std::string out;
    for (const CheckPhrase& phrase : text.phrases) out += Cp1251(phrase, language);
    return out;
}

// A line's report in one language, Windows-1251 until the end.
class LineWriter {
public:
    LineWriter(CheckLanguage language, std::string& out) : language_(language), out_(out) {
        // The values start two columns after the longest label (in Windows-1251 every letter is
        // one byte and one column).
        for (CheckSays label : {CheckSays::Does, CheckSays::Source, CheckSays::Destination, CheckSays::Copies,
                                CheckSays::NotArriving, CheckSays::NoValue, CheckSays::SourceRows})
            valueColumn_ = std::max(valueColumn_, Say(label).size() + 5);
    }

    std::string Say(CheckSays says, std::vector<std::string> args = {}) const {
        return Cp1251(CheckPhrase{says, std::move(args)}, language_);
    }
    // "  label:" padded to the values' column, then the value.
    void Field(CheckSays label, const std::string& value) {
        std::string head = "  " + Say(label) + ":";
        head += std::string(valueColumn_ - head.size(), ' ');
        out_ += ToUtf8(head + value) + "\n";
    }
    void Problem(const CheckText& problem, const char* indent) {
        out_ += ToUtf8(indent + Say(CheckSays::Problem) + ": " + Cp1251(problem, language_)) + "\n";
    }
    void Line(const CheckedLine& line) {
        const std::string heading = line.number > 0 ? Say(CheckSays::LineHeading, {kTableListFile, std::to_string(line.number)})
                                                    : Say(CheckSays::JournalBlockHeading);
        out_ += ToUtf8(heading + ": " + line.text) + "\n";
        if (line.comment) {
            out_ += ToUtf8("  " + Say(CheckSays::Comment)) + "\n";
            return;
        }
        std::vector<std::string> actions;
        for (const CheckText& action : line.actions) actions.push_back(Cp1251(action, language_));
        Field(CheckSays::Does, Joined(actions, "; "));
        if (!line.table.empty() && (line.reads || !line.actions.empty())) {
            Field(CheckSays::Source, Presence(line.source, line.key));
            Field(CheckSays::Destination, Presence(line.dest, line.key));
        }
        if (!line.copied.empty()) Field(CheckSays::Copies, Joined(line.copied, ", "));
        if (!line.notArriving.empty()) Field(CheckSays::NotArriving, Joined(line.notArriving, ", "));
        if (!line.noValue.empty()) Field(CheckSays::NoValue, NoValue(line));
        if (line.rows)
            Field(CheckSays::SourceRows, std::to_string(*line.rows) +
                                             (line.rowsFilter.empty() ? "" : Say(CheckSays::RowsWhere, {line.rowsFilter})));
        for (const CheckText& problem : line.problems) Problem(problem, "  ");
    }

private:
    std::string Presence(const TablePresence& p, const std::string& key) const {
        return Say(CheckSays::Presence, {YesNo(p.table), key, YesNo(p.key)});
    }
    std::string YesNo(bool yes) const { return Say(yes ? CheckSays::Yes : CheckSays::No); }
    std::string NoValue(const CheckedLine& line) const {
        std::string text;
        for (const std::string& column : line.noValue)
            text += (text.empty() ? "" : ", ") + column +
                    (line.portSetToOne && column == "HS_PORT" ? Say(CheckSays::SetToOne) : std::string());
        return text;
    }

    CheckLanguage language_;
    std::string& out_;
    std::size_t valueColumn_ = 0;
};

} // namespace

int CheckResult::ProblemCount() const {
    std::size_t count = fileProblems.size();
    for (const CheckedLine& line : lines) count += line.problems.size();
    return static_cast<int>(count);
}

std::string Rendered(const CheckText& text, CheckLanguage language) { return ToUtf8(Cp1251(text, language)); }

std::string CheckReportText(const CheckResult& result, CheckLanguage language) {
    std::string out;
    LineWriter writer(language, out);
    for (const CheckedLine& line : result.lines) writer.Line(line);
    for (const CheckText& problem : result.fileProblems) writer.Problem(problem, "");
    const int problems = result.ProblemCount();
    const CheckSays verdict = problems == 0 ? CheckSays::NoProblems : problems == 1 ? CheckSays::OneProblem : CheckSays::Problems;
    out += ToUtf8(writer.Say(verdict, {std::to_string(problems)})) + "\n";
    return out;
}

} // namespace kestrix
