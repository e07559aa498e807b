// The account of a run collected from the progress events, as the engine and the driver send
// them to the run state, and its JSON form.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run/RunAccount.h"
#include "run/RunState.h"

namespace kestrix {
namespace {

// Events: "T NAME" a table stage, "T" one without a name, "clear" / "post" / "int" other
// stages, "count N" the copy's row count, "W" / "R" a row written / refused, "U TABLE COLUMN"
// a reference that became -1.
void Feed(RunState& state, const std::string& event) {
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
    else if (event.rfind("count ", 0) == 0) state.SetTableMax(std::stoi(arg(1)));
    else if (event == "W" || event == "R") state.RowDone(event == "W");
    else if (event.rfind("U ", 0) == 0) state.ReferenceUnmapped(arg(1), arg(2));
    else FAIL() << "unknown event " << event;
}

// "NAME read written refused [COLUMN:n ...] ok|NOT"
std::string Describe(const TableAccount& t) {
    std::string text = t.table + " " + std::to_string(t.Read()) + " " + std::to_string(t.written) + " " +
                       std::to_string(t.refused) + " [";
    for (const auto& [column, rows] : t.unmapped) text += column + ":" + std::to_string(rows) + " ";
    return text + "] " + (t.Accounted() ? "ok" : "NOT");
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
         {"clear", "W", "T HOSTS", "count 3", "W", "R", "W", "T CONTROLLERS", "count 2", "W", "U CONTROLLERS CT_HS_ID",
          "W", "U CONTROLLERS CT_HS_ID", "U CONTROLLERS CT_PC_ID", "U HOSTS HS_X", "post"},
         RunOutcome::Finished,
         {"HOSTS 3 2 1 [] ok", "CONTROLLERS 2 2 0 [CT_HS_ID:2 CT_PC_ID:1 ] ok"}},
        {"a table right after itself goes on in its row, a later one opens another; unnamed lines get none",
         {"T OWNER", "count 2", "W", "W", "T OWNER", "T", "W", "T OWNER", "count 1", "R", "T OWNER", "count 1", "W"},
         RunOutcome::Finished,
         {"OWNER 2 2 0 [] ok", "OWNER 2 1 1 [] ok"}},
        {"a count of none is accounted for; rows outside a table are not counted",
         {"T ZONES", "count 0", "post", "W", "R"}, RunOutcome::Finished, {"ZONES 0 0 0 [] ok"}},
        {"interrupted within a table: counted rows not handled",
         {"T EVENTS", "count 5", "W", "W", "int"}, RunOutcome::Interrupted, {"EVENTS 5 2 0 [] NOT"}},
        {"failed within a table after its count, before its rows",
         {"T HOSTS", "count 1", "W", "T READERS", "count 4"}, RunOutcome::Failed,
         {"HOSTS 1 1 0 [] ok", "READERS 4 0 0 [] NOT"}},
        {"no count (macros): the table the run failed in cannot tell",
         {"T MACROSES", "W", "R", "W"}, RunOutcome::Failed, {"MACROSES 3 2 1 [] NOT"}},
        {"no count: accounted for once a later stage began",
         {"T MACROSES", "W", "R", "post"}, RunOutcome::Interrupted, {"MACROSES 2 1 1 [] ok"}},
        {"no count: interrupted right after the table",
         {"T MACROSES", "W", "int"}, RunOutcome::Interrupted, {"MACROSES 1 1 0 [] NOT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeadlessRunState state;
        state.Account().Start();
        for (const std::string& event : c.events) Feed(state, event);
        state.Account().Close(c.outcome);
        std::vector<std::string> tables;
        for (const TableAccount& t : state.Account().Tables()) tables.push_back(Describe(t));
        EXPECT_EQ(tables, c.tables);
        EXPECT_EQ(state.Account().Outcome(), c.outcome);
    }
}

TEST(RunAccount, AccountedLineAndJsonForScripts) {
    HeadlessRunState state;
    for (const char* event : {"T HOSTS", "count 2", "W", "W", "U HOSTS HS_\"Q\"", "T \xC7\xCE\xCD\xDB", "count 3",
                                     "R", "int"})
        Feed(state, event);
    state.Account().Close(RunOutcome::Interrupted);
    EXPECT_EQ(AccountedLine(state.Account()), "Not accounted for: ЗОНЫ");
    std::string json = AccountJson(state.Account(), 130);
    // Seconds vary: blank them out.
    for (std::size_t at = json.find("\"seconds\": "); at != std::string::npos; at = json.find("\"seconds\": ", at + 1))
        json.replace(at + 11, json.find(',', at) - at - 11, "S");
    EXPECT_EQ(json,
              "{\n  \"outcome\": \"interrupted\",\n  \"exit_code\": 130,\n  \"accounted\": false,\n  \"tables\": [\n"
              "    {\"name\": \"HOSTS\", \"read\": 2, \"written\": 2, \"refused\": 0, \"seconds\": S, "
              "\"unmapped\": {\"HS_\\\"Q\\\"\": 1}, \"accounted\": true},\n"
              "    {\"name\": \"ЗОНЫ\", \"read\": 3, \"written\": 0, \"refused\": 1, \"seconds\": S, "
              "\"unmapped\": {}, \"accounted\": false}\n  ]\n}\n");

    state.Account().Start();
    state.Account().Close(RunOutcome::Finished);
    EXPECT_EQ(AccountedLine(state.Account()), "Every row is accounted for.");
    EXPECT_EQ(AccountJson(state.Account(), 0),
              "{\n  \"outcome\": \"finished\",\n  \"exit_code\": 0,\n  \"accounted\": true,\n  \"tables\": []\n}\n");
}

} // namespace
} // namespace kestrix
