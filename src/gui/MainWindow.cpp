#include "gui/MainWindow.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

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

// The start date field's "empty" value: day 0 of the program's dates.
const QDate kNoDate(1899, 12, 30);

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

bool HoldsTableList(const std::string& dir) {
    std::error_code error;
    return std::filesystem::is_regular_file(FindDataFile(AppDirPath(dir), kTableListFile), error);
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

QLabel* Label(QWidget* panel, const std::string& text, int left, int top) {
    auto* label = new QLabel(Qt(text), panel);
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
    setWindowTitle(Qt(texts::kWindowTitle));
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

    GuiRunState::Controls controls;
    controls.window = this;
    controls.TabLabel = TabLabel;
    controls.TablePB = TablePB;
    controls.AllPB = AllPB;
    controls.locked = {SourceFE, DestFE, EventsCB, FromDE, ClearDateBtn, MoveBitBtn};
    controls.lockedMenus = {mnuFile->menuAction(), mnuHelp->menuAction()};
    controls.CancelMoveBitBtn = CancelMoveBitBtn;
    state_ = std::make_unique<GuiRunState>(std::move(controls));
    driver_ = std::make_unique<RunDriver>(*state_, dm_);
    driver_->CancelRequest = &cancelRequest_;

    DataFolderLabel = new QLabel(this);
    statusBar()->addWidget(DataFolderLabel, 1);
    statusBar()->setSizeGripEnabled(false);

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

MainWindow::~MainWindow() = default;

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
    setTabOrder(EventsCB, FromDE);
    setTabOrder(FromDE, ClearDateBtn);
    setTabOrder(ClearDateBtn, SourceFE);
    setTabOrder(SourceFE, DestFE);
    setTabOrder(DestFE, MoveBitBtn);
    setTabOrder(MoveBitBtn, CancelMoveBitBtn);
}

// The two database names, each with a browse button inside its field.
void MainWindow::CreateNameFields() {
    QIcon browseIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    auto fileField = [&](int top, void (MainWindow::*onChange)()) {
        auto* field = new QLineEdit(Panel1);
        field->setGeometry(8, top, 465, 21);
        QAction* browse = field->addAction(browseIcon, QLineEdit::TrailingPosition);
        connect(browse, &QAction::triggered, this, [this, field] { Browse(field); });
        connect(field, &QLineEdit::textChanged, this, [this, onChange] { (this->*onChange)(); });
        return field;
    };
    BaseLabel1 = Label(Panel1, texts::kSourceTitle, 8, 20);
    SourceFE = fileField(36, &MainWindow::SourceFEChange);
    BaseLabel2 = Label(Panel1, texts::kDestTitle, 8, 68);
    DestFE = fileField(84, &MainWindow::DestFEChange);
}

// The journals option with its start date, which can be emptied again.
void MainWindow::CreateEventOptions() {
    EventsCB = new QCheckBox(Qt(texts::kEventsOption), Panel1);
    EvFromLabel = Label(Panel1, texts::kFromTitle, 248, 133);

    FromDE = new QDateEdit(Panel1);
    FromDE->setGeometry(272, 129, 121, 21);
    FromDE->setCalendarPopup(true);
    FromDE->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    // Qt has no empty date field: the earliest date stands for "no date" and shows blank.
    FromDE->setMinimumDate(kNoDate);
    FromDE->setSpecialValueText(QStringLiteral(" "));
    FromDE->setDate(kNoDate);
    ClearDateBtn = new QToolButton(Panel1);
    ClearDateBtn->setIcon(style()->standardIcon(QStyle::SP_LineEditClearButton));
    ClearDateBtn->setToolTip(Qt(texts::kClearDate));
    ClearDateBtn->setAutoRaise(true);
    connect(ClearDateBtn, &QToolButton::clicked, this, [this] { FromDE->setDate(kNoDate); });
    QCalendarWidget* calendar = FromDE->calendarWidget();
    calendar->installEventFilter(new ShowWatcher(calendar, [this, calendar] {
        if (FromDE->date() == kNoDate)
            calendar->setCurrentPage(QDate::currentDate().year(), QDate::currentDate().month());
    }));
}

// Start and cancel, the status text and the two progress bars.
void MainWindow::CreateRunControls() {
    MoveBitBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), Qt(texts::kMoveCaption), Panel2);
    MoveBitBtn->setGeometry(8, 7, 184, 34);
    connect(MoveBitBtn, &QPushButton::clicked, this, [this] { StartRun(); });
    CancelMoveBitBtn =
        new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop), Qt(texts::kCancelMoveCaption), Panel2);
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

void MainWindow::CreateMenus() {
    mnuFile = menuBar()->addMenu(Qt(texts::kMenuFile));
    mnuFile_Source = mnuFile->addAction(Qt(texts::kMenuSource), this, [this] { mnuFile_SourceClick(); });
    mnuFile_Dest = mnuFile->addAction(Qt(texts::kMenuDest), this, [this] { mnuFile_DestClick(); });
    mnuFile->addSeparator();
    mnuFile_Move = mnuFile->addAction(Qt(texts::kMoveCaption), this, [this] { mnuFile_MoveClick(); });
    mnuFile_Check = mnuFile->addAction(Qt(texts::kMenuCheck), this, [this] { mnuFile_CheckClick(); });
    // Whether a run reads its copies back, as the operator left it at the last start.
    mnuFile_Verify = mnuFile->addAction(Qt(texts::kMenuVerify));
    mnuFile_Verify->setCheckable(true);
    mnuFile_Verify->setChecked(QSettings(kSettingsName, kSettingsName).value(kVerifyKey, false).toBool());
    connect(mnuFile_Verify, &QAction::toggled, this,
            [](bool on) { QSettings(kSettingsName, kSettingsName).setValue(kVerifyKey, on); });
    mnuFile->addSeparator();
    mnuFile_Log = mnuFile->addAction(Qt(texts::kMenuLog), this, [this] { mnuFile_LogClick(); });
    mnuFile_DataFolder = mnuFile->addAction(Qt(texts::kMenuDataFolder), this, [this] { mnuFile_DataFolderClick(); });
    mnuHelp = menuBar()->addMenu(Qt(texts::kMenuHelp));
    mnuHelp_MainWindow = mnuHelp->addAction(Qt(texts::kMenuMainWindow), this, [this] { mnuHelp_MainWindowClick(); });
    mnuHelp->addSeparator();
    mnuHelp_About = mnuHelp->addAction(Qt(texts::kMenuAbout), this, [this] { mnuHelp_AboutClick(); });
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
    QCoreApplication::quit();
}

void MainWindow::FormActivate() {
    if (activated_) return;
    activated_ = true;
    // Beside the data files, a failed check ends the program, as it always has.
    const std::string programDir = FilePath(programFile_);
    if (!dataFolder_ && HoldsTableList(programDir)) {
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
    DataFolderLabel->setText(Qt(texts::kDataFolderStatus) + QString::fromStdString(options_.appDir));
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

void MainWindow::CheckMoveEnabled() { EnableStart(!SourceFE->text().isEmpty() && !DestFE->text().isEmpty()); }

// The check before a run follows the start.
void MainWindow::EnableStart(bool enabled) {
    MoveBitBtn->setEnabled(enabled);
    mnuFile_Move->setEnabled(enabled);
    mnuFile_Check->setEnabled(enabled);
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

void MainWindow::mnuFile_CheckClick() {
    SyncOptions();
    CheckOptions check;
    check.source = options_.sourceName;
    check.dest = options_.destName;
    check.appDir = options_.appDir;
    check.events = options_.events;
    check.startDate = options_.startDate;
    check.sourceLogin = options_.sourceLogin;
    check.destLogin = options_.destLogin;
    QApplication::setOverrideCursor(::Qt::WaitCursor);
    try {
        CheckResult result = CheckTransfer(check);
        QApplication::restoreOverrideCursor();
        const int problems = result.ProblemCount();
        const std::string verdict =
            problems == 0 ? texts::kCheckNoProblems : texts::kCheckProblems + std::to_string(problems);
        new TextViewer(this, texts::kCheckCaption + ": " + verdict, QString::fromStdString(CheckReportText(result)));
    } catch (const std::exception& e) {
        QApplication::restoreOverrideCursor();
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
    cancelRequest_ = false;
    SyncOptions();
    // The window goes on handling its messages while a statement waits (see WaitProcessingMessages).
    struct LongCalls {
        LongCalls() { db::SetLongCallWaiter(&WaitProcessingMessages); }
        ~LongCalls() { db::SetLongCallWaiter(nullptr); }
    };
    try {
        LongCalls waiting;
        driver_->Run(options_);
    } catch (const std::exception& e) {
        // The top-level handler: an error that left the run, shown after its cleanup.
        running_ = false;
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, e.what());
        ShowSummary();
        return;
    }
    running_ = false;
    ShowSummary();
}

void MainWindow::ShowSummary() {
    if (summary_) summary_->close();
    const RunOptions& run = driver_->Options();
    const std::string log = run.appDir + kLogFile;
    summary_ = new SummaryDialog(this, state_->Account(), log, driver_->Maps(),
                                 {{"source", run.sourceName}, {"destination", run.destName}, {"log", log}});
}

void MainWindow::CancelMoveBitBtnClick() {
    if (ShowBox(this, BoxKind::Question, texts::kConfirmCaption, texts::kConfirmCancel,
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        state_->CancelFlag = true;
        cancelRequest_ = true;
    }
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

void MainWindow::ShowAboutBox() {
    void* library = dlopen("about.dll", RTLD_NOW | RTLD_LOCAL);
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
