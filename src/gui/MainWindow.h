#pragma once
// The main window: the two database names, the events option, start and cancel, the
// status and the two progress bars; it holds the options of the next run and the run state,
// and starts runs.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPointer>

#include "app/RunDriver.h"
#include "gui/GuiRunState.h"
#include "db/Databases.h"

class QAction;
class QCheckBox;
class QDateEdit;
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

    // The data folder of the start-up checks and the options as the controls last gave them.
    const RunOptions& Options() const { return options_; }
    RunState& State() { return *state_; }
    RunDriver& Driver() { return *driver_; }
    bool Running() const { return running_; }

    QFrame* Panel1;
    QFrame* Panel2;
    QLabel* BaseLabel1;
    QLineEdit* SourceFE;
    QLabel* BaseLabel2;
    QLineEdit* DestFE;
    QCheckBox* EventsCB;
    QLabel* EvFromLabel;
    QDateEdit* FromDE;
    QToolButton* ClearDateBtn;   // makes FromDE empty again
    QPushButton* MoveBitBtn;
    QPushButton* CancelMoveBitBtn;
    QLabel* TblLabel;
    QLabel* TabLabel = nullptr;
    QProgressBar* TablePB;
    QLabel* AllLabel;
    QProgressBar* AllPB;
    QMenu* mnuFile;
    QAction* mnuFile_Source;
    QAction* mnuFile_Dest;
    QAction* mnuFile_Move;
    QAction* mnuFile_Check;
    QAction* mnuFile_Verify;   // checkable, remembered between starts
    QAction* mnuFile_Log;
    QAction* mnuFile_DataFolder;
    QAction* mnuFile_Exit;   // Ctrl+Q, outside a run
    QLabel* DataFolderLabel;   // the folder in use, in the status bar
    QMenu* mnuHelp;
    QAction* mnuHelp_MainWindow;
    QAction* mnuHelp_About;

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void CreateControls();
    void CreateNameFields();
    void CreateEventOptions();
    void CreateRunControls();
    void CreateMenus();
    void EqualityCheck();
    // The start-up checks for dir; when one fails, its message, and the folder in use stays.
    bool UseDataFolder(const std::string& dir);
    // Asks until a folder passes the start-up checks and remembers it for the next start;
    // false when the operator cancels.
    bool ChooseDataFolder();
    void Browse(QLineEdit* field);
    void SyncOptions();
    void EnableStart(bool enabled);
    // Keeps the described positions where the texts fit and moves a control right of the
    // text before it where that text, measured in the current font, is wider.
    void ArrangeByTextWidth();
    // The account of the run just ended, in a dialog that replaces the one of a run before.
    void ShowSummary();

    db::Databases& dm_;
    std::string programFile_;
    std::optional<std::string> dataFolder_;
    RunOptions options_;
    std::unique_ptr<GuiRunState> state_;
    std::unique_ptr<RunDriver> driver_;
    bool activated_ = false;
    bool shown_ = false;
    bool running_ = false;
    // Set by a confirmed cancel press; the run cancels a statement that waits meanwhile.
    std::atomic<bool> cancelRequest_{false};
    QPointer<QDialog> summary_;
};

} // namespace kestrix::gui
