#include "gui/MainWindow.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

#include <QAction>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDateEdit>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>
#include <QStyle>
#include <QTimer>

#include "app/Logins.h"
#include "app/StartupChecks.h"
#include "db/Strings.h"
#include "run/DataFiles.h"
#include "app/TransferCheck.h"
#include "run/Texts.h"
#include "gui/Dialogs.h"
#include "gui/MasterEventFilter.h"
#include "gui/SummaryDialog.h"
#include "gui/LogViewer.h"
#include "gui/Viewers.h"

namespace kestrix::gui {
namespace {

constexpr int kClientWidth = 479;
constexpr int kClientHeight = 311;
constexpr int kPanel1Height = 169;

// The folder chosen at an earlier start, kept in the user's settings.
const QString kSettingsName = QStringLiteral("kestrix");
const QString kDataFolderKey = QStringLiteral("dataFolder");
const QString kVerifyKey = QStringLiteral("verify");   // runs read their copies back

std::optional<std::string> RememberedDataFolder() {
    const QString folder = QSettings(kSettingsName, kSettingsName).value(kDataFolderKey).toString();
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
}

void RememberDataFolder(const QString& folder) { QSettings(kSettingsName, kSettingsName).setValue(kDataFolderKey, folder); }

// Which side refused whom, then the server's text.
std::string LoginRefusedText(const LoginRefused& refused) {
    return texts::Formatted(refused.role() == DatabaseRole::Source ? texts::kSourceLoginRefused : texts::kDestLoginRefused,
                            FileNameToCp1251(refused.database()).c_str(), FileNameToCp1251(refused.user()).c_str()) +
           refused.text();
}

// Runs an action whenever the watched widget is shown.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QObject* parent, std::function<void()> onShow) : QObject(parent), onShow_(std::move(onShow)) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) onShow_();
        return false;
    }

private:
    std::function<void()> onShow_;
};

// A flat button that shows its frame while it has the focus: the icon would cover the style's
// focus mark, and Tab is to be seen to reach it.
class FlatButton : public QToolButton {
public:
    explicit FlatButton(QWidget* parent) : QToolButton(parent) { setAutoRaise(true); }

protected:
    void focusInEvent(QFocusEvent* e) override {
        setAutoRaise(false);
        QToolButton::focusInEvent(e);
    }
    void focusOutEvent(QFocusEvent* e) override {
        setAutoRaise(true);
        QToolButton::focusOutEvent(e);
    }
};

QLabel* Label(QWidget* panel, const std::string& text, int left, int top) {
    auto* label = new QLabel(FromCp1251(text), panel);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QProgressBar* Bar(QWidget* panel, int left, int top) {
    auto* bar = new QProgressBar(panel);
    bar->setGeometry(left, top, 441, 17);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

} // namespace

MainWindow::MainWindow(db::Databases& dm, std::string programFile, std::optional<std::string> dataFolder,
                       QWidget* parent)
    : QMainWindow(parent), dm_(dm), programFile_(std::move(programFile)), dataFolder_(std::move(dataFolder)) {
    // The client library's usual variables, else the fixed login; a login dialog may change them.
    options_.sourceLogin = options_.destLogin = LoginFromEnvironment();
    setWindowTitle(FromCp1251(texts::kWindowTitle));
    setWindowFlags(::Qt::Window | ::Qt::CustomizeWindowHint | ::Qt::WindowTitleHint |
                   ::Qt::WindowSystemMenuHint | ::Qt::WindowMinimizeButtonHint | ::Qt::WindowCloseButtonHint);
    // The layout is measured for a narrow 8-point sans serif: take the first one present.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    font.setPointSize(8);
    setFont(font);

    CreateControls();
    CreateMenus();

    controls_.window = this;
    controls_.TabLabel = TabLabel;
    controls_.TablePB = TablePB;
    controls_.AllPB = AllPB;
    controls_.locked = {SourceFE, DestFE, EventsCB, FromDE, ClearDateBtn, MoveBitBtn};
    controls_.lockedMenus = {mnuFile->menuAction(), mnuHelp->menuAction(), mnuFile_Exit};
    controls_.CancelMoveBitBtn = CancelMoveBitBtn;
    state_ = std::make_unique<GuiRunState>(controls_);
    driver_ = std::make_unique<RunDriver>(*state_, dm_);
    AskLoginsFor(*driver_);

    DataFolderLabel = new QLabel(this);
    statusBar()->addWidget(DataFolderLabel, 1);
    statusBar()->setSizeGripEnabled(false);
    NameControls();

    // Fixed client area between the menu bar and the status bar, no resizing, centred on the screen.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    EventsCB->setFocus();

    // FormCreate
    CheckMoveEnabled();
}

namespace {

// Threads of runs and checks the window has left to themselves, not ended yet.
std::atomic<int> g_threadsLeftBehind{0};

} // namespace

// A run's thread. The window joins it once the run has ended; a run left connecting is
// detached, and ends with the state, driver and databases it was given: its driver holds
// the cancel request it reads, which the window no longer touches.
struct MainWindow::RunThread {
    int serial = 0;
    std::thread thread;
    std::exception_ptr failure;   // written by the thread before it tells its end

    struct LeftBehind {
        std::unique_ptr<GuiRunState> state;
        std::unique_ptr<RunDriver> driver;
        std::unique_ptr<db::Databases> dm;
    };
    // The thread, at its end: whether the window still waits for it.
    bool Ended() {
        std::optional<LeftBehind> objects;
        {
            std::lock_guard lock(mutex);
            ended = true;
            if (!left) return true;
            objects = std::move(left);
        }
        objects.reset();
        --g_threadsLeftBehind;
        return false;
    }
    void Leave(LeftBehind objects) {
        std::lock_guard lock(mutex);
        left = std::move(objects);
        if (!ended) ++g_threadsLeftBehind;
        thread.detach();
    }

    std::mutex mutex;
    bool ended = false;
    std::optional<LeftBehind> left;
};

// A check's thread. It tells the window of its end while the window is there; a window that
// goes leaves it to end by itself, however long its server keeps it.
struct MainWindow::CheckThread {
    std::thread thread;
    std::mutex mutex;
    MainWindow* window = nullptr;   // null once the window has gone
    bool ended = false;

    // From the thread, at its end. The news is posted under the lock, so the window cannot go
    // meanwhile; once it has gone, Qt drops the news with it.
    void Ended(std::function<void(MainWindow&)> tell) {
        std::lock_guard lock(mutex);
        ended = true;
        if (!window) {
            --g_threadsLeftBehind;
            return;
        }
        QMetaObject::invokeMethod(window, [window = window, tell = std::move(tell)] { tell(*window); },
                                  ::Qt::QueuedConnection);
    }
    // From the window, as it goes.
    void Leave() {
        std::lock_guard lock(mutex);
        window = nullptr;
        if (ended) return thread.join();
        ++g_threadsLeftBehind;
        thread.detach();
    }
};

int MainWindow::ThreadsLeftBehind() { return g_threadsLeftBehind; }

MainWindow::~MainWindow() {
    // A run's thread waiting for a login is answered Cancel: it ends, or is left connecting.
    loginAsker_->Close();
    LeaveCheck();
    if (!run_) return;
    driver_->Control().cancel.Request();
    if (state_->AbandonUnwritten())
        run_->Leave({std::move(state_), std::move(driver_), std::move(ownDm_)});
    else
        run_->thread.join();
}

void MainWindow::CreateControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    Panel1 = new QFrame(client);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, 0, kClientWidth, kPanel1Height);
    Panel2 = new QFrame(client);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setGeometry(0, kPanel1Height, kClientWidth, kClientHeight - kPanel1Height);

    CreateNameFields();
    CreateEventOptions();
    CreateRunControls();

    for (QWidget* w : std::initializer_list<QWidget*>{BaseLabel1, BaseLabel2, EvFromLabel, TblLabel, TabLabel, AllLabel,
                                                      TablePB, AllPB})
        w->setFocusPolicy(::Qt::NoFocus);
    // The described order, each browse button after its field; the date's clear button is for
    // the mouse and stays out of it.
    ClearDateBtn->setFocusPolicy(::Qt::NoFocus);
    setTabOrder(EventsCB, FromDE);
    setTabOrder(FromDE, SourceFE);
    setTabOrder(SourceFE, SourceBrowseBtn);
    setTabOrder(SourceBrowseBtn, DestFE);
    setTabOrder(DestFE, DestBrowseBtn);
    setTabOrder(DestBrowseBtn, MoveBitBtn);
    setTabOrder(MoveBitBtn, CancelMoveBitBtn);
}

// The two database names, each with a browse button inside its field. The button is one of its
// own, not an action of the field, whose buttons Tab never reaches.
void MainWindow::CreateNameFields() {
    QIcon browseIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    auto fileField = [&](int top, void (MainWindow::*onChange)(), QToolButton*& browse) {
        auto* field = new QLineEdit(Panel1);
        field->setGeometry(8, top, 465, 21);
        browse = new FlatButton(field);
        browse->setIcon(browseIcon);
        browse->setCursor(::Qt::ArrowCursor);
        const int side = field->height() - 2;
        browse->setGeometry(field->width() - side - 1, 1, side, side);
        field->setTextMargins(0, 0, side, 0);
        connect(browse, &QToolButton::clicked, this, [this, field] { Browse(field); });
        connect(field, &QLineEdit::textChanged, this, [this, onChange] { (this->*onChange)(); });
        return field;
    };
    BaseLabel1 = Label(Panel1, texts::kSourceTitle, 8, 20);
    SourceFE = fileField(36, &MainWindow::SourceFEChange, SourceBrowseBtn);
    BaseLabel2 = Label(Panel1, texts::kDestTitle, 8, 68);
    DestFE = fileField(84, &MainWindow::DestFEChange, DestBrowseBtn);
}

// The journals option with its start date, which can be emptied again.
void MainWindow::CreateEventOptions() {
    EventsCB = new QCheckBox(FromCp1251(texts::kEventsOption), Panel1);
    EvFromLabel = Label(Panel1, texts::kFromTitle, 248, 133);

    FromDE = new DateField(Panel1);
    FromDE->setGeometry(272, 129, 121, 21);
    FromDE->OnValidityChanged = [this] { DateOrEventsChanged(); };
    connect(EventsCB, &QCheckBox::toggled, this, [this] { DateOrEventsChanged(); });
    ClearDateBtn = new QToolButton(Panel1);
    ClearDateBtn->setIcon(style()->standardIcon(QStyle::SP_LineEditClearButton));
    ClearDateBtn->setToolTip(FromCp1251(texts::kClearDate));
    ClearDateBtn->setAutoRaise(true);
    connect(ClearDateBtn, &QToolButton::clicked, this, [this] { FromDE->SetEmpty(); });
    QCalendarWidget* calendar = FromDE->calendarWidget();
    calendar->installEventFilter(new ShowWatcher(calendar, [this, calendar] {
        if (FromDE->date() == DateField::kNoDate)
            calendar->setCurrentPage(QDate::currentDate().year(), QDate::currentDate().month());
    }));
}

// Start and cancel, the status text and the two progress bars.
void MainWindow::CreateRunControls() {
    MoveBitBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), FromCp1251(texts::kMoveCaption), Panel2);
    MoveBitBtn->setGeometry(8, 7, 184, 34);
    connect(MoveBitBtn, &QPushButton::clicked, this, [this] { StartRun(); });
    CancelMoveBitBtn =
        new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop), FromCp1251(texts::kCancelMoveCaption), Panel2);
    CancelMoveBitBtn->setGeometry(280, 7, 184, 34);
    CancelMoveBitBtn->setEnabled(false);
    connect(CancelMoveBitBtn, &QPushButton::clicked, this, [this] { CancelMoveBitBtnClick(); });

    TblLabel = Label(Panel2, texts::kTableTitle, 24, 56);
    TabLabel = new QLabel(Panel2);
    QFont bold = TabLabel->font();
    bold.setBold(true);
    TabLabel->setFont(bold);
    QPalette green = TabLabel->palette();
    green.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    TabLabel->setPalette(green);
    TablePB = Bar(Panel2, 24, 72);
    AllLabel = Label(Panel2, texts::kAllTitle, 24, 96);
    AllPB = Bar(Panel2, 24, 112);
    ArrangeByTextWidth();
}

// A menu text with its keyboard accelerator on the letter at index accel.
QString MenuText(const std::string& cp1251, int accel) { return FromCp1251(cp1251).insert(accel, QLatin1Char('&')); }

void MainWindow::CreateMenus() {
    mnuFile = menuBar()->addMenu(MenuText(texts::kMenuFile, 0));
    mnuFile_Source = mnuFile->addAction(MenuText(texts::kMenuSource, 0), this, [this] { mnuFile_SourceClick(); });
    mnuFile_Dest = mnuFile->addAction(MenuText(texts::kMenuDest, 0), this, [this] { mnuFile_DestClick(); });
    mnuFile->addSeparator();
    mnuFile_Move = mnuFile->addAction(MenuText(texts::kMoveCaption, 0), this, [this] { mnuFile_MoveClick(); });
    mnuFile_Check = mnuFile->addAction(MenuText(texts::kMenuCheck, 1), this, [this] { mnuFile_CheckClick(); });
    // Whether a run reads its copies back, as the operator left it at the last start.
    mnuFile_Verify = mnuFile->addAction(MenuText(texts::kMenuVerify, 4));
    mnuFile_Verify->setCheckable(true);
    mnuFile_Verify->setChecked(QSettings(kSettingsName, kSettingsName).value(kVerifyKey, false).toBool());
    connect(mnuFile_Verify, &QAction::toggled, this,
            [](bool on) { QSettings(kSettingsName, kSettingsName).setValue(kVerifyKey, on); });
    mnuFile->addSeparator();
    mnuFile_Log = mnuFile->addAction(MenuText(texts::kMenuLog, 0), this, [this] { mnuFile_LogClick(); });
    mnuFile_DataFolder =
        mnuFile->addAction(MenuText(texts::kMenuDataFolder, 6), this, [this] { mnuFile_DataFolderClick(); });
    mnuFile->addSeparator();
    mnuFile_Exit = mnuFile->addAction(MenuText(texts::kMenuExit, 2), this, [this] { mnuFile_ExitClick(); });
    mnuFile_Exit->setShortcut(QKeySequence(::Qt::CTRL | ::Qt::Key_Q));
    mnuFile_Exit->setShortcutContext(::Qt::WindowShortcut);
    mnuHelp = menuBar()->addMenu(MenuText(texts::kMenuHelp, 0));
    mnuHelp_MainWindow =
        mnuHelp->addAction(MenuText(texts::kMenuMainWindow, 0), this, [this] { mnuHelp_MainWindowClick(); });
    mnuHelp->addSeparator();
    mnuHelp_About = mnuHelp->addAction(MenuText(texts::kMenuAbout, 0), this, [this] { mnuHelp_AboutClick(); });
}

void MainWindow::NameControls() {
    const std::pair<QObject*, const char*> named[] = {
        {Panel1, "Panel1"},
        {Panel2, "Panel2"},
        {BaseLabel1, "BaseLabel1"},
        {SourceFE, "SourceFE"},
        {BaseLabel2, "BaseLabel2"},
        {DestFE, "DestFE"},
        {SourceBrowseBtn, "SourceBrowseBtn"},
        {DestBrowseBtn, "DestBrowseBtn"},
        {EventsCB, "EventsCB"},
        {EvFromLabel, "EvFromLabel"},
        {FromDE, "FromDE"},
        {ClearDateBtn, "ClearDateBtn"},
        {MoveBitBtn, "MoveBitBtn"},
        {CancelMoveBitBtn, "CancelMoveBitBtn"},
        {TblLabel, "TblLabel"},
        {TabLabel, "TabLabel"},
        {TablePB, "TablePB"},
        {AllLabel, "AllLabel"},
        {AllPB, "AllPB"},
        {mnuFile, "mnuFile"},
        {mnuFile_Source, "mnuFile_Source"},
        {mnuFile_Dest, "mnuFile_Dest"},
        {mnuFile_Move, "mnuFile_Move"},
        {mnuFile_Check, "mnuFile_Check"},
        {mnuFile_Verify, "mnuFile_Verify"},
        {mnuFile_Log, "mnuFile_Log"},
        {mnuFile_DataFolder, "mnuFile_DataFolder"},
        {mnuFile_Exit, "mnuFile_Exit"},
        {DataFolderLabel, "DataFolderLabel"},
        {mnuHelp, "mnuHelp"},
        {mnuHelp_MainWindow, "mnuHelp_MainWindow"},
        {mnuHelp_About, "mnuHelp_About"},
    };
    for (const auto& [object, name] : named) object->setObjectName(QLatin1String(name));
}

// Outside a run only: during one the item is disabled with the menus. The window's own
// command, as its close box is: no "Wm_Close" box, which is for requests of other programs.
void MainWindow::mnuFile_ExitClick() {
    if (!running_) CloseItself(this);
}

void MainWindow::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (shown_) return;
    shown_ = true;
    // The main window comes up active. Where the window system does not activate it (no
    // window manager), the start-up checks still run once the window is up.
    activateWindow();
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

bool MainWindow::event(QEvent* e) {
    bool result = QMainWindow::event(e);
    if (e->type() == QEvent::WindowActivate) FormActivate();
    return result;
}

void MainWindow::closeEvent(QCloseEvent* e) {
    // During a run the window offers no close box; a window system that closes it anyway
    // (a keyboard shortcut of the window manager) is not followed.
    if (running_ && e->spontaneous()) {
        e->ignore();
        return;
    }
    e->accept();
    // The program ends with its main window: the account, the viewers and any box go with it.
    // Closing defers the deletion of a window, so every window of the list stays valid.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != this && window->isVisible()) window->close();
    // A check still waiting for its server is left to itself, so the program need not wait.
    LeaveCheck();
    QCoreApplication::exit(exitStatus_);
}

void MainWindow::LeaveCheck() {
    if (!check_) return;
    check_->Leave();
    check_.reset();
    unsetCursor();
}

void MainWindow::FormActivate() {
    if (activated_) return;
    activated_ = true;
    // Beside the data files, a failed check ends the program, as it always has.
    const std::string programDir = FilePath(programFile_);
    if (!dataFolder_ && FolderHoldsTableList(programDir)) {
        if (!UseDataFolder(programDir)) CloseItself(this);
        return;
    }
    const std::optional<std::string> first = dataFolder_ ? dataFolder_ : RememberedDataFolder();
    if (first && UseDataFolder(*first)) return;
    if (!ChooseDataFolder()) CloseItself(this);
}

bool MainWindow::UseDataFolder(const std::string& dir) {
    // Checked on a copy: a folder that fails leaves the one in use.
    RunOptions checked = options_;
    if (std::optional<std::string> failure = RunStartupChecks(*state_, checked, dir)) {
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, *failure);
        return false;
    }
    options_ = checked;
    DataFolderLabel->setText(FromCp1251(texts::kDataFolderStatus) + QString::fromStdString(options_.appDir));
    DataFolderLabel->setToolTip(QString::fromStdString(options_.appDir));
    return true;
}

bool MainWindow::ChooseDataFolder() {
    QString start = QString::fromStdString(options_.appDir);
    if (start.isEmpty()) start = QString::fromStdString(RememberedDataFolder().value_or(QDir::homePath().toStdString()));
    while (std::optional<QString> folder = ChooseFolder(this, texts::kDataFolderDialogTitle, start)) {
        if (UseDataFolder(folder->toStdString())) {
            RememberDataFolder(*folder);
            return true;
        }
        start = *folder;
    }
    return false;
}

void MainWindow::mnuFile_DataFolderClick() { ChooseDataFolder(); }

void MainWindow::SourceFEChange() { EqualityCheck(); }
void MainWindow::DestFEChange() { EqualityCheck(); }

void MainWindow::EqualityCheck() {
    // In UTF-8 the blanks and control characters are the bytes up to 32, as in Windows-1251.
    std::string source = TrimBlanksAndControls(SourceFE->text().toStdString());
    std::string dest = TrimBlanksAndControls(DestFE->text().toStdString());
    if (source != dest || source.empty()) {
        CheckMoveEnabled();
        return;
    }
    ShowBox(this, BoxKind::Error, texts::kErrorCaption, texts::kSameDatabases);
    EnableStart(false);
}

void MainWindow::CheckMoveEnabled() {
    EnableStart(!SourceFE->text().isEmpty() && !DestFE->text().isEmpty() && DateAllowsStart());
}

bool MainWindow::DateAllowsStart() const { return !EventsCB->isChecked() || FromDE->HasValidText(); }

void MainWindow::DateOrEventsChanged() {
    if (!MoveBitBtn || !mnuFile_Move) return;   // while the controls are made
    const bool namesEqual = TrimBlanksAndControls(SourceFE->text().toStdString()) ==
                                TrimBlanksAndControls(DestFE->text().toStdString()) &&
                            !TrimBlanksAndControls(SourceFE->text().toStdString()).empty();
    if (namesEqual)
        EnableStart(false);
    else
        CheckMoveEnabled();
}

// The check before a run follows the start.
void MainWindow::EnableStart(bool enabled) {
    MoveBitBtn->setEnabled(enabled);
    mnuFile_Move->setEnabled(enabled);
    mnuFile_Check->setEnabled(enabled && !check_);
}

void MainWindow::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::FontChange && TabLabel) ArrangeByTextWidth();
}

void MainWindow::ArrangeByTextWidth() {
    for (QLabel* label : {BaseLabel1, BaseLabel2, EvFromLabel, TblLabel, AllLabel}) label->adjustSize();
    constexpr int kGap = 6;
    auto rightOf = [](const QWidget* w) { return w->x() + w->width() + kGap; };
    EventsCB->setGeometry(40, 133, std::max(185, EventsCB->sizeHint().width()), std::max(17, EventsCB->sizeHint().height()));
    EvFromLabel->move(std::max(248, rightOf(EventsCB)), 133);
    FromDE->move(std::max(272, rightOf(EvFromLabel)), 129);
    ClearDateBtn->setGeometry(FromDE->x() + FromDE->width() + 2, 129, 21, 21);
    const int tabLeft = std::max(136, rightOf(TblLabel));
    const int lineHeight = std::max(TblLabel->height(), QFontMetrics(TabLabel->font()).height());
    TabLabel->setGeometry(tabLeft, 56, kClientWidth - tabLeft - 14, lineHeight);
}

// The check runs on a thread of its own, as a run does, so that a server that does not answer
// leaves the window working; the report or the error comes when the check ends.
void MainWindow::mnuFile_CheckClick() {
    if (check_) return;
    SyncOptions();
    RunOptions check = options_;
    check_ = std::make_shared<CheckThread>();
    check_->window = this;
    mnuFile_Check->setEnabled(false);
    setCursor(::Qt::BusyCursor);
    check_->thread = std::thread([job = check_, asker = loginAsker_, check]() mutable {
        std::optional<CheckResult> result;
        std::exception_ptr failure;
        try {
            while (!result) {
                try {
                    result = CheckTransfer(check);
                } catch (const LoginRefused& refused) {
                    // Asked as a run asks; the answer is kept for the runs.
                    const bool source = refused.role() == DatabaseRole::Source;
                    std::optional<Login> login = asker->Ask(source ? LoginSide::Source : LoginSide::Destination,
                                                            refused.text(), refused.user());
                    if (!login) throw;
                    (source ? check.sourceLogin : check.destLogin) = {login->user, login->password};
                }
            }
        } catch (...) {
            failure = std::current_exception();
        }
        // Not for a check the window has left meanwhile, as it does when it closes.
        job->Ended([job, result = std::move(result), failure](MainWindow& window) {
            if (window.check_ == job) window.CheckEnded(result, failure);
        });
    });
}

void MainWindow::CheckEnded(const std::optional<CheckResult>& result, const std::exception_ptr& failure) {
    check_->thread.join();
    check_.reset();
    unsetCursor();
    mnuFile_Check->setEnabled(mnuFile_Move->isEnabled());
    if (result) {
        const int problems = result->ProblemCount();
        const std::string verdict =
            problems == 0 ? texts::kCheckNoProblems : texts::kCheckProblems + std::to_string(problems);
        new TextViewer(this, texts::kCheckCaption + ": " + verdict,
                       QString::fromStdString(CheckReportText(*result, CheckLanguage::Russian)));
        return;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const LoginRefused& e) {
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, LoginRefusedText(e));
    } catch (const std::exception& e) {
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, e.what());
    }
}

void MainWindow::mnuFile_LogClick() { ShowLog(this, options_.appDir + kLogFile); }

void MainWindow::SyncOptions() {
    // The names are file names: they go on in the file system's encoding, UTF-8.
    options_.sourceName = SourceFE->text().toStdString();
    options_.destName = DestFE->text().toStdString();
    options_.events = EventsCB->isChecked();
    options_.verify = mnuFile_Verify->isChecked();
    QDate from = FromDE->date();
    options_.startDate = db::DateTime{from.year(), from.month(), from.day(), 0, 0, 0, 0};
}

void MainWindow::StartRun() {
    if (running_) return;
    running_ = true;
    endAfterRun_ = false;
    SyncOptions();
    state_->Starting();
    state_->Lock(true);
    run_ = std::make_shared<RunThread>();
    run_->serial = ++runSerial_;
    run_->thread = std::thread([this, run = run_, driver = driver_.get(), options = options_] {
        try {
            driver->Run(options);
        } catch (...) {
            run->failure = std::current_exception();
        }
        if (!run->Ended()) return;   // left connecting: the window has gone on without it
        QMetaObject::invokeMethod(
            this, [this, serial = run->serial] {
                if (run_ && run_->serial == serial) RunEnded();
            },
            ::Qt::QueuedConnection);
    });
}

namespace {

// The program's status when a signal ended it after its run.
int SignalledStatus(const RunAccount& account) {
    switch (account.Outcome().value_or(RunOutcome::Failed)) {
    case RunOutcome::Finished: return 0;
    case RunOutcome::Interrupted: return 130;
    case RunOutcome::Failed: break;
    }
    return 1;
}

} // namespace

void MainWindow::RunEnded() {
    run_->thread.join();
    const std::exception_ptr failure = run_->failure;
    run_.reset();
    running_ = false;
    state_->ShowAll();
    state_->RestoreCursor();
    state_->Lock(false);
    if (endAfterRun_) return EndProgram(SignalledStatus(state_->Account()));
    if (!state_->InterruptionWarning().empty())
        ShowBox(this, BoxKind::Warning, texts::kWarningCaption, state_->InterruptionWarning(), QMessageBox::Yes);
    if (failure) {
        // The top-level handler: an error that left the run, shown after its cleanup.
        try {
            std::rethrow_exception(failure);
        } catch (const LoginRefused& e) {
            ShowBox(this, BoxKind::Error, texts::kErrorCaption, LoginRefusedText(e));
        } catch (const std::exception& e) {
            ShowBox(this, BoxKind::Error, texts::kErrorCaption, e.what());
        }
    }
    ShowSummary(state_->Account(), driver_->Maps());
}

void MainWindow::LeaveRunConnecting() {
    // The run keeps what it holds; the window goes on with a state, a driver and databases
    // of its own, as the run left them.
    const auto pause = driver_->Control().postScriptPause;
    const auto beforeReadBack = driver_->Control().beforeReadBack;
    loginAsker_->Close();
    run_->Leave({std::move(state_), std::move(driver_), std::move(ownDm_)});
    run_.reset();
    running_ = false;
    ownDm_ = std::make_unique<db::Databases>();
    state_ = std::make_unique<GuiRunState>(controls_);
    driver_ = std::make_unique<RunDriver>(*state_, *ownDm_);
    driver_->Control().postScriptPause = pause;
    driver_->Control().beforeReadBack = beforeReadBack;
    AskLoginsFor(*driver_);

    // Interrupted before anything was written.
    driver_->Control().cancel.Request();
    state_->Account().Start();
    state_->Account().SetEventsFrom(options_.events ? std::optional(options_.startDate) : std::nullopt);
    state_->SetStatusText(texts::kStatusInterrupted);
    state_->Account().Close(RunOutcome::Interrupted);
    state_->ShowAll();
    state_->Lock(false);
    if (endAfterRun_) return EndProgram(SignalledStatus(state_->Account()));
    ShowBox(this, BoxKind::Warning, texts::kWarningCaption, texts::kInterruptedWarning, QMessageBox::Yes);
    ShowSummary(state_->Account(), driver_->Maps());
}

void MainWindow::AskLoginsFor(RunDriver& driver) {
    loginAsker_ = std::make_shared<LoginAsker>(this);
    loginAsker_->Answered = [this](LoginSide side, const Login& login) {
        (side == LoginSide::Source ? options_.sourceLogin : options_.destLogin) = {login.user, login.password};
    };
    driver.AskLogin = [asker = loginAsker_](DatabaseRole role, const LoginRefused& refused)
        -> std::optional<db::Credentials> {
        const LoginSide side = role == DatabaseRole::Source ? LoginSide::Source : LoginSide::Destination;
        std::optional<Login> login = asker->Ask(side, refused.text(), refused.user());
        if (!login) return std::nullopt;
        return db::Credentials{login->user, login->password};
    };
}

void MainWindow::ShowSummary(const RunAccount& account, const IdMaps& maps) {
    if (summary_) summary_->close();
    const std::string log = options_.appDir + kLogFile;
    summary_ = new SummaryDialog(this, account, log, maps,
                                 {{"source", StripQuotes(options_.sourceName)},
                                  {"destination", StripQuotes(options_.destName)},
                                  {"log", log}});
}

void MainWindow::CancelMoveBitBtnClick() {
    if (ShowBox(this, BoxKind::Question, texts::kConfirmCaption, texts::kConfirmCancel,
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        RequestCancel();
}

void MainWindow::RequestCancel() {
    driver_->Control().cancel.Request();
    if (running_ && state_->AbandonUnwritten()) LeaveRunConnecting();
}

void MainWindow::EndOnSignal() {
    if (!running_) return EndProgram(0);
    endAfterRun_ = true;
    RequestCancel();
}

void MainWindow::EndProgram(int status) {
    exitStatus_ = status;
    CloseItself(this);
}

void MainWindow::Browse(QLineEdit* field) {
    if (std::optional<QString> file = OpenDatabaseFile(this, texts::kDatabaseDialogTitle, texts::kDatabaseDialogFilter))
        field->setText(*file);
}

void MainWindow::mnuFile_SourceClick() { Browse(SourceFE); }
void MainWindow::mnuFile_DestClick() { Browse(DestFE); }

void MainWindow::mnuHelp_MainWindowClick() {
    // The help file's format has no viewer here: the page of the main window is built in.
    new HelpViewer(this);
}

// "about.dll" in this platform's form: the program's private library folder (../lib/kestrix
// of an installed program), the program's own folder (a build), then the ordinary search.
std::vector<std::string> AboutLibraryCandidates(const std::string& programFile) {
    const std::filesystem::path programDir = std::filesystem::path(programFile).parent_path();
    return {(programDir / ".." / "lib" / "kestrix" / kAboutLibrary).lexically_normal().string(),
            (programDir / kAboutLibrary).string(), kAboutLibrary};
}

void MainWindow::ShowAboutBox() {
    void* library = nullptr;
    for (const std::string& name : AboutLibraryCandidates(programFile_))
        if ((library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))) break;
    if (!library) {
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, texts::kAboutLoadFailed);
        return;
    }
    using ShowAbout = int (*)();
    if (auto show = reinterpret_cast<ShowAbout>(dlsym(library, "show_about")))
        show();
    else
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, texts::kAboutEntryMissing);
    dlclose(library);
}

} // namespace kestrix::gui
