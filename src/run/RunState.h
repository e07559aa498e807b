#pragma once
// What the front end (window or command line) renders of a run: the displays, the events that
// feed the run's account, and the window's hooks. What the run is asked to do is in
// RunOptions; the cancel request is the run's (Context).
#include <chrono>
#include <string>
#include <vector>

#include "run/RunAccount.h"

namespace kestrix {

// A progress display: minimum 0, a maximum, and a position kept within both.
class Progress {
public:
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMax(int max);
    void SetPosition(int position);
    void ToMin() { SetPosition(0); }
    void Step() { SetPosition(position_ + 1); }

private:
    int max_ = 100;
    int position_ = 0;
};

class RunState {
public:
    virtual ~RunState() = default;

    // Displays.
    const std::string& StatusText() const { return status_; }
    void SetStatusText(const std::string& text);   // TabLabel, Windows-1251
    const Progress& TableProgress() const { return table_; }
    const Progress& AllProgress() const { return all_; }
    void SetTableMax(int max);
    void SetTablePosition(int position);
    void StepTable();
    void AllToMin();
    void SetAllMax(int max);
    void SetAllPosition(int position);
    void StepAll();

    // Processes the pending messages once: repaint, and a cancel press gets through.
    virtual void PumpMessages() = 0;
    // The database-wait cursor while the pre- and post-transfer scripts run.
    virtual void SetWaitCursor(bool /*wait*/) {}
    // The controls a run locks: names, options, start; the cancel button the other way round.
    virtual void LockControls(bool /*locked*/) {}
    // The warning after an interrupted run.
    virtual void ShowInterruptionWarning(const std::string& /*text*/) {}
    // Progress events, rendered by the front ends, which never compare the status text;
    // these versions keep the account, and a front end's own calls them first:
    // a stage starts (table: the table copied, for RunStage::Table only). Told after the
    // stage's status text is set, so that a front end shows the new text; the pre-transfer
    // script keeps the text it finds.
    virtual void StageStarted(RunStage stage, const std::string& table) { account_.StageStarted(stage, table); }
    // the table copy fetched a source row, before handling it;
    void RowRead() { account_.RowRead(); }
    // the table copy handled a source row: written, or refused and logged;
    virtual void RowDone(bool written) { account_.RowDone(written); }
    // a reference column of a copied row got -1: its device is not in the identifier maps.
    virtual void ReferenceUnmapped(const std::string& table, const std::string& column) {
        account_.ReferenceUnmapped(table, column);
    }
    // rows counted written in the current table did not reach it: their transaction did not
    // commit;
    void WrittenUndone(int rows) { account_.WrittenUndone(rows); }
    // the copy of the current table ended on an error, passed over or ending the run.
    void TableFailed(const std::string& message) { account_.TableFailed(message); }
    // the sequence is done with the current table's line; a copy that a cancel ended is not
    // done.
    void LineDone(bool cancelled) { account_.LineDone(cancelled); }
    // before the first write: journal rows the destination already holds, which the copy
    // will refuse; the run goes on.
    virtual void RowsAlreadyPresent(const std::vector<PresentRows>& present) { account_.RowsAlreadyPresent(present); }
    // before the run's first change of the destination (a switch of the bulk load, the
    // pre-transfer script); a front end that gave the run up while it connected ends it here;
    virtual void WritingBegins() {}
    // a switch of the bulk load that the run could not set back (an index left inactive,
    // forced writes left off); the run goes on, and fails at its end;
    virtual void SwitchLeft(const LeftSwitch& left) { account_.SwitchLeft(left); }
    // a change of the destination has waited `waited` so far for a lock that another
    // attachment holds on `table`; told every few seconds while it waits;
    virtual void WaitingForLock(const std::string& /*table*/, std::chrono::seconds /*waited*/) {}
    // the read-back of the copy counted in the account's row `row`.
    void ReadBackDue(std::size_t row) { account_.ReadBackDue(row); }
    void TableVerified(std::size_t row, const TableVerification& result) { account_.TableVerified(row, result); }

    // The account of the current or last run, fed by the events above only.
    const RunAccount& Account() const { return account_; }
    RunAccount& Account() { return account_; }

protected:
    // Called after every change of a display.
    virtual void DisplayChanged() {}

private:
    std::string status_;
    RunAccount account_;
    Progress table_;
    Progress all_;
};

} // namespace kestrix
