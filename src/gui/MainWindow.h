#pragma once
// The main window: the two database names, the events option, start and cancel, the
// status and the two progress bars; it holds the options of the next run and the run state,
// and starts runs and checks, each on a thread of its own, so that the window never waits for
// a server.
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPointer>

#include "app/RunDriver.h"
#include "app/TransferCheck.h"
#include "gui/DateField.h"
#include "gui/GuiRunState.h"
#include "gui/LoginDialog.h"
#include "db/Databases.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace kestrix::gui {

// The about library's file name on this platform, and where the window looks for it, in order.
inline const std::string kAboutLibrary = "libkestrix-about.so";
std::vector<std::string> AboutLibraryCandidates(const std::string& programFile);

class MainWindow : public QMainWindow {
public:
    // programFile: the full path of the program file. dataFolder: the folder of the data files
    // and the run log given at start; without it, the program's folder when it holds the table
    // list, otherwise the folder chosen at an earlier start, or one the operator chooses now.
    MainWindow(db::Databases& dm, std::string programFile, std::optional<std::string> dataFolder = std::nullopt,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // A termination signal: during a run, the run is interrupted at its next safe point and
    // the program then ends (status 130); outside a run the program ends at once (status 0).
    void EndOnSignal();

    // The data folder of the start-up checks and the options as the controls last gave them.
    const RunOptions& Options() const { return options_; }
    RunState& State() { return *state_; }
    RunDriver& Driver() { return *driver_; }
    bool Running() const { return running_; }
    // Runs left to themselves while they connected and checks left waiting for a server when
    // their window went, whose threads have not ended yet: the program ends without waiting
    // for them.
    static int ThreadsLeftBehind();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    // Handlers.
    void FormActivate();
    void SourceFEChange();
    void DestFEChange();
    void CheckMoveEnabled();
    void StartRun();
    void CancelMoveBitBtnClick();
    void mnuFile_SourceClick();
    void mnuFile_DestClick();
    void mnuFile_MoveClick() { StartRun(); }
    // The check before a run and the run log, each in a viewer over the window.
    void mnuFile_CheckClick();
    void mnuFile_LogClick();
    // Another data folder between runs; the start-up checks run for it.
    void mnuFile_DataFolderClick();
    void mnuFile_ExitClick();
    void mnuHelp_MainWindowClick();
    void mnuHelp_AboutClick() { ShowAboutBox(); }
    void ShowAboutBox();

    // The controls; each has its name as object name, by which tests find it.
    QFrame* Panel1;
    QFrame* Panel2;
    QLabel* BaseLabel1;
    QLineEdit* SourceFE;
    QToolButton* SourceBrowseBtn;   // inside SourceFE, at its right end
    QLabel* BaseLabel2;
    QLineEdit* DestFE;
    QToolButton* DestBrowseBtn;
    QCheckBox* EventsCB;
    QLabel* EvFromLabel;
    DateField* FromDE;
    QToolButton* ClearDateBtn;   // makes FromDE empty again
    QPushButton* MoveBitBtn = nullptr;
    QPushButton* CancelMoveBitBtn;
    QLabel* TblLabel;
    QLabel* TabLabel = nullptr;
    QProgressBar* TablePB;
    QLabel* AllLabel;
    QProgressBar* AllPB;
    QMenu* mnuFile;
    QAction* mnuFile_Source;
    QAction* mnuFile_Dest;
    QAction* mnuFile_Move = nullptr;
    QAction* mnuFile_Check;
    QAction* mnuFile_Verify;   // checkable, remembered between starts
    QAction* mnuFile_Log;
    QAction* mnuFile_DataFolder;
    QAction* mnuFile_Exit;   // Ctrl+Q, outside a run
    QLabel* DataFolderLabel;   // the folder in use, in the status bar
    QMenu* mnuHelp;
    QAction* mnuHelp_MainWindow;
    QAction* mnuHelp_About;

    void CreateControls();
    void CreateNameFields();
    void CreateEventOptions();
    void CreateRunControls();
    void CreateMenus();
    void NameControls();
    void EqualityCheck();
    // The start-up checks for dir; when one fails, its message, and the folder in use stays.
    bool UseDataFolder(const std::string& dir);
    // Asks until a folder passes the start-up checks and remembers it for the next start;
    // false when the operator cancels.
    bool ChooseDataFolder();
    void Browse(QLineEdit* field);
    void SyncOptions();
    void EnableStart(bool enabled);
    // The start after a change of the events option or the date: enabled by the names as the
    // equality check leaves it, and while the journals are ticked only with a date or none.
    void DateOrEventsChanged();
    bool DateAllowsStart() const;
    // Keeps the described positions where the texts fit and moves a control right of the
    // text before it where that text, measured in the current font, is wider.
    void ArrangeByTextWidth();
    // The account of the run just ended, in a dialog that replaces the one of a run before.
    void ShowSummary(const RunAccount& account, const IdMaps& maps);
    // The run's thread has ended: the window unlocked, the warning, the error, the account.
    void RunEnded();
    // The check's thread has ended with its result or its failure.
    void CheckEnded(const std::optional<CheckResult>& result, const std::exception_ptr& failure);
    // The window goes: a check under way is left to end by itself.
    void LeaveCheck();
    // Cancel confirmed or signalled: the run is asked to stop; a run that has not begun to
    // write is left to itself and ends as interrupted at once.
    void RequestCancel();
    void LeaveRunConnecting();
    // The driver's question for another login, through a new asker; the answers are kept in
    // the window's options for its later runs.
    void AskLoginsFor(RunDriver& driver);
    void EndProgram(int status);

    struct RunThread;
    struct CheckThread;
    db::Databases& dm_;
    // The databases of the runs after one left connecting, which keeps those it had.
    std::unique_ptr<db::Databases> ownDm_;
    GuiRunState::Controls controls_;
    std::string programFile_;
    std::optional<std::string> dataFolder_;
    RunOptions options_;
    std::unique_ptr<GuiRunState> state_;
    std::unique_ptr<RunDriver> driver_;
    std::shared_ptr<LoginAsker> loginAsker_;
    bool activated_ = false;
    bool shown_ = false;
    bool running_ = false;
    bool endAfterRun_ = false;   // a termination signal came during the run
    int exitStatus_ = 0;
    std::shared_ptr<RunThread> run_;
    int runSerial_ = 0;
    QPointer<QDialog> summary_;
    std::shared_ptr<CheckThread> check_;   // the check under way
};

} // namespace kestrix::gui
