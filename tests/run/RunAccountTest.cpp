// The account of a run collected from the progress events, as the engine and the driver send
// them to the run state, and its JSON form.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "db/Charset.h"
#include "run/RunAccount.h"
#include "run/RunState.h"
#include "support/TestRunState.h"

namespace kestrix {
namespace {

// Events: "T NAME" a table stage, "T" one without a name, "clear" / "post" / "int" other
// stages, "w" / "r" a row fetched then written / refused, "W" / "R" a row written / refused
// that no fetch told of, "f" a row fetched only, "U TABLE COLUMN" a reference that became
// -1, "E TEXT" the table's copy ended on an error, "u N" N rows written did not commit,
// "step" the line done, "cancel" the run cancelled (a line done later is not done).
void Feed(RunState& state, const std::string& event, bool& cancelled) {
    auto arg = [&](int n) {
        std::size_t at = 0;
        for (int i = 0; i < n; ++i) at = event.find(' ', at) + 1;
        return event.substr(at, event.find(' ', at) - at);
    };
    if (event == "T") state.StageStarted(RunStage::Table, "");
    else if (event.rfind("T ", 0) == 0) state.StageStarted(RunStage::Table, arg(1));
    else if (event == "clear") state.StageStarted(RunStage::ClearPass, "");
    else if (event == "post") state.StageStarted(RunStage::PostScript, "");
    else if (event == "int") state.StageStarted(RunStage::Interrupted, "");
    else if (event == "f") state.RowRead();
    else if (event == "w" || event == "r") state.RowRead(), state.RowDone(event == "w");
    else if (event == "W" || event == "R") state.RowDone(event == "W");
    else if (event == "step") state.LineDone(cancelled);
    else if (event == "cancel") cancelled = true;
    else if (event.rfind("U ", 0) == 0) state.ReferenceUnmapped(arg(1), arg(2));
    else if (event.rfind("E ", 0) == 0) state.TableFailed(arg(1));
    else if (event.rfind("u ", 0) == 0) state.WrittenUndone(std::stoi(arg(1)));
    else FAIL() << "unknown event " << event;
}

// "NAME read written refused [COLUMN:n ...] ok|NOT [ERROR]"
std::string Describe(const TableAccount& t) {
    std::string text = t.table + " " + std::to_string(t.Read()) + " " + std::to_string(t.written) + " " +
                       std::to_string(t.refused) + " [";
    for (const auto& [column, rows] : t.unmapped) text += column + ":" + std::to_string(rows) + " ";
    return text + "] " + (t.Accounted() ? "ok" : "NOT") + (t.error.empty() ? "" : " " + t.error);
}

struct Case {
    const char* name;
    std::vector<std::string> events;
    RunOutcome outcome;
    std::vector<std::string> tables;
};

TEST(RunAccount, CollectsEveryTableFromTheEvents) {
    const Case cases[] = {
        {"written, refused and -1 references counted per column",
         {"clear", "w", "step", "T HOSTS", "w", "r", "w", "step", "T CONTROLLERS", "w", "U CONTROLLERS CT_HS_ID", "w",
          "U CONTROLLERS CT_HS_ID", "U CONTROLLERS CT_PC_ID", "U HOSTS HS_X", "step", "post"},
         RunOutcome::Finished,
         {"HOSTS 3 2 1 [] ok", "CONTROLLERS 2 2 0 [CT_HS_ID:2 CT_PC_ID:1 ] ok"}},
        {"a table right after itself goes on in its row, a later one opens another; unnamed lines get none",
         {"T OWNER", "w", "w", "step", "T OWNER", "step", "T", "w", "step", "T OWNER", "r", "step", "T OWNER", "w"},
         RunOutcome::Finished,
         {"OWNER 2 2 0 [] ok", "OWNER 2 1 1 [] ok"}},
        {"a row fetched and never handled", {"T ZONES", "w", "f", "step"}, RunOutcome::Finished,
         {"ZONES 2 1 0 [] NOT"}},
        {"no rows; rows outside a table are not counted", {"T ZONES", "step", "post", "w", "R"},
         RunOutcome::Finished, {"ZONES 0 0 0 [] ok"}},
        {"interrupted within a table: its rest was not read",
         {"T EVENTS", "w", "cancel", "w", "step", "int"}, RunOutcome::Interrupted, {"EVENTS 2 2 0 [] NOT"}},
        {"interrupted after a table's line was done",
         {"T EVENTS", "w", "w", "step", "cancel", "int"}, RunOutcome::Interrupted, {"EVENTS 2 2 0 [] ok"}},
        {"failed within a table; the one before it is whole",
         {"T HOSTS", "w", "step", "T READERS", "r"}, RunOutcome::Failed,
         {"HOSTS 1 1 0 [] ok", "READERS 1 0 1 [] NOT"}},
        {"a copy that does not tell its fetches (macros): read is what it handled",
         {"T MACROSES", "W", "R", "W", "step", "post"}, RunOutcome::Failed, {"MACROSES 3 2 1 [] ok"}},
        {"a copy ended by an error that the sequence passes over: the first error is kept",
         {"T HOSTS", "w", "E first", "E second", "step", "clear", "E outside", "T ZONES", "w", "step", "post"},
         RunOutcome::Finished, {"HOSTS 1 1 0 [] NOT first", "ZONES 1 1 0 [] ok"}},
        {"rows of a transaction that did not commit are not written; of a macro copy, still read",
         {"T EVENTS", "w", "r", "w", "f", "u 2", "T MACROSES", "W", "u 5", "step", "post"}, RunOutcome::Failed,
         {"EVENTS 4 0 1 [] NOT", "MACROSES 1 0 0 [] NOT"}},
        {"failed in the post-transfer script: the tables stay accounted for",
         {"T MACROSES", "W", "post"}, RunOutcome::Failed, {"MACROSES 1 1 0 [] ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TestRunState state;
        state.Account().Start();
        bool cancelled = false;
        for (const std::string& event : c.events) Feed(state, event, cancelled);
        state.Account().Close(c.outcome);
        std::vector<std::string> tables;
        for (const TableAccount& t : state.Account().Tables()) tables.push_back(Describe(t));
        EXPECT_EQ(tables, c.tables);
        EXPECT_EQ(state.Account().Outcome(), c.outcome);
    }
}

TEST(RunAccount, AccountedLineAndJsonForScripts) {
    using Json = nlohmann::json;
    test::TestRunState state;
    // Windows-1251 names and texts with quotes, control characters and the one byte that has
    // no character (0x98).
    bool cancelled = false;
    for (const char* event : {"T HOSTS", "w", "w", "U HOSTS HS_\"Q\"\\", "step", "T \xC7\xCE\xCD\xDB", "f", "f", "r",
                              "E \xCE\xF8\xE8\xE1\xEA\xE0\t\"\x01\r\n\x98", "int"})
        Feed(state, event, cancelled);
    state.Account().TableVerified(0, {1, 1, {{"7", "HS_\xC8\xCC\xDF", "'\x98\"'", "\x1f"}}, 0.25});
    const PresentRows present{"\xC7\xCE\xCD\xDB", 2, 3, {2026, 1, 1, 0, 0, 0, 0}};
    state.RowsAlreadyPresent({present});
    state.Account().Close(RunOutcome::Interrupted);
    EXPECT_EQ(AccountedLine(state.Account()), "Not accounted for: ЗОНЫ");
    EXPECT_EQ(ToUtf8(AccountedText(state.Account())), "Не учтены строки таблиц: ЗОНЫ");
    EXPECT_EQ(PresentRowsLine(present), "ЗОНЫ: 2 of the 3 rows from 2026-01-01 are already in the destination; a run will refuse them");
    EXPECT_EQ(ToUtf8(PresentRowsText(present)), "ЗОНЫ: 2 из 3 строк с 01.01.2026 уже есть в приемнике; перенос откажет в их записи.");
    const std::string text = AccountJson(state.Account(), 130);
    const Json json = Json::parse(text);
    EXPECT_EQ(text.rfind("{\n  \"outcome\": \"interrupted\",\n  \"exit_code\": 130,\n  \"accounted\": false,\n", 0), 0u)
        << "the fields in their order";
    EXPECT_EQ(json["cancel_too_late"], false);
    // The totals over every table, and the journal rows found in the destination beforehand.
    EXPECT_EQ((std::vector<int>{json["read"], json["written"], json["refused"], json["lost"]}),
              (std::vector<int>{5, 2, 1, 2}));
    EXPECT_EQ(json["present"], (Json::array({{{"name", "ЗОНЫ"}, {"present", 2}, {"rows", 3}, {"from", "2026-01-01"}}})));
    EXPECT_TRUE(json["events_from"].is_null());
    ASSERT_EQ(json["tables"].size(), 2u) << text;
    const Json& hosts = json["tables"][0];
    EXPECT_EQ(hosts["name"], "HOSTS");
    EXPECT_EQ((std::vector<int>{hosts["read"], hosts["written"], hosts["refused"], hosts["lost"]}),
              (std::vector<int>{2, 2, 0, 0}));
    EXPECT_EQ(hosts["unmapped"], (Json{{"HS_\"Q\"\\", 1}}));
    EXPECT_EQ(hosts["accounted"], true);
    EXPECT_FALSE(hosts.contains("error"));
    EXPECT_EQ(hosts["verified"], 1);
    EXPECT_EQ(hosts["differ"], 1);
    EXPECT_EQ(hosts["verify_seconds"], 0.25);
    EXPECT_EQ(hosts["differences"], (Json::array({{{"key", "7"}, {"column", "HS_ИМЯ"}, {"source", "'\uFFFD\"'"},
                                                    {"destination", "\x1f"}}})));
    const Json& zones = json["tables"][1];
    EXPECT_EQ(zones["name"], "ЗОНЫ");
    EXPECT_EQ((std::vector<int>{zones["read"], zones["written"], zones["refused"], zones["lost"]}),
              (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(zones["unmapped"], Json::object());
    EXPECT_EQ(zones["accounted"], false);
    EXPECT_EQ(zones["error"], "Ошибка\t\"\x01\r\n\uFFFD");
    EXPECT_FALSE(zones.contains("verified"));
    for (const Json& table : json["tables"]) {
        EXPECT_GE(table["seconds"].get<double>(), 0);
        EXPECT_GE(table["started"].get<double>(), 0);
    }

    // Refused rows are accounted for, and the last line tells them from a clean copy.
    struct Verdict { std::vector<const char*> events; const char *line, *text; };
    const Verdict verdicts[] = {
        {{"T HOSTS", "w", "step"}, "Every row is accounted for.", "Все строки учтены."},
        {{"T HOSTS", "w", "r", "step", "T EVENTS", "w", "w", "r", "step"},
         "Every row is accounted for: 3 written, 2 refused (see the run log).",
         "Все строки учтены: записано 3, отказано 2 (см. журнал переноса)."},
    };
    for (const Verdict& v : verdicts) {
        state.Account().Start();
        bool cancelled = false;
        for (const char* event : v.events) Feed(state, event, cancelled);
        state.Account().Close(RunOutcome::Finished);
        EXPECT_EQ(AccountedLine(state.Account()), v.line);
        EXPECT_EQ(ToUtf8(AccountedText(state.Account())), v.text);
    }

    state.Account().Start();
    state.Account().CancelCameTooLate();
    state.Account().SetEventsFrom(db::DateTime{2026, 1, 5});
    state.Account().Close(RunOutcome::Finished);
    EXPECT_EQ(AccountedLine(state.Account()), "Every row is accounted for.");
    EXPECT_EQ(Json::parse(AccountJson(state.Account(), 0)),
              (Json{{"outcome", "finished"}, {"exit_code", 0}, {"accounted", true}, {"cancel_too_late", true},
                    {"read", 0}, {"written", 0}, {"refused", 0}, {"lost", 0}, {"present", Json::array()}, {"left", Json::array()}, {"events_from", "2026-01-05"},
                    {"tables", Json::array()}}));
}

} // namespace
} // namespace kestrix
