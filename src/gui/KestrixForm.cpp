#include "gui/KestrixForm.h"

#include <dlfcn.h>

#include <algorithm>

#include <QAction>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include "run/DataFiles.h"
#include "app/StartupChecks.h"
#include "run/Texts.h"
#include "gui/Dialogs.h"
#include "gui/MasterEventFilter.h"

namespace kestrix::gui {
namespace {

constexpr int kClientWidth = 479;
constexpr int kClientHeight = 311;
constexpr int kPanel1Height = 169;

// The start date field's "empty" value: day 0 of the program's dates.
const QDate kNoDate(1899, 12, 30);

// Blanks and control characters at both ends removed.
QString TrimControls(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20) ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20) --end;
    return text.mid(begin, end - begin);
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

TKestrixForm::TKestrixForm(db::TDM1& dm, std::string programFile, QWidget* parent)
    : QMainWindow(parent), dm_(dm), programFile_(std::move(programFile)) {
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
    controls.locked = {SourceFE, DestFE, EventsCB, FromDE, MoveBitBtn};
    controls.lockedMenus = {mnuFile->menuAction(), mnuHelp->menuAction()};
    controls.CancelMoveBitBtn = CancelMoveBitBtn;
    state_ = std::make_unique<GuiRunState>(std::move(controls));
    driver_ = std::make_unique<RunDriver>(*state_, dm_);
    driver_->CancelRequest = &cancelRequest_;

    // Fixed client area below the menu bar, no resizing, centred on the screen.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    EventsCB->setFocus();

    // FormCreate
    CheckMoveEnabled();
}

TKestrixForm::~TKestrixForm() = default;

void TKestrixForm::CreateControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    Panel1 = new QFrame(client);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, 0, kClientWidth, kPanel1Height);
    Panel2 = new QFrame(client);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setGeometry(0, kPanel1Height, kClientWidth, kClientHeight - kPanel1Height);

    QIcon browseIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    auto fileField = [&](int top, void (TKestrixForm::*onChange)()) {
        auto* field = new QLineEdit(Panel1);
        field->setGeometry(8, top, 465, 21);
        QAction* browse = field->addAction(browseIcon, QLineEdit::TrailingPosition);
        connect(browse, &QAction::triggered, this, [this, field] { Browse(field); });
        connect(field, &QLineEdit::textChanged, this, [this, onChange] { (this->*onChange)(); });
        return field;
    };
    BaseLabel1 = Label(Panel1, texts::kSourceTitle, 8, 20);
    SourceFE = fileField(36, &TKestrixForm::SourceFEChange);
    BaseLabel2 = Label(Panel1, texts::kDestTitle, 8, 68);
    DestFE = fileField(84, &TKestrixForm::DestFEChange);

    EventsCB = new QCheckBox(Qt(texts::kEventsOption), Panel1);
    EvFromLabel = Label(Panel1, texts::kFromTitle, 248, 133);
    // A wider font than the layout's may need more room for the caption, up to the date's title.
    EventsCB->setGeometry(40, 133, std::clamp(EventsCB->sizeHint().width(), 185, 248 - 40 - 4), 17);

    FromDE = new QDateEdit(Panel1);
    FromDE->setGeometry(272, 129, 121, 21);
    FromDE->setCalendarPopup(true);
    FromDE->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    // Qt has no empty date field: the earliest date stands for "no date" and shows blank.
    FromDE->setMinimumDate(kNoDate);
    FromDE->setSpecialValueText(QStringLiteral(" "));
    FromDE->setDate(kNoDate);
    QCalendarWidget* calendar = FromDE->calendarWidget();
    calendar->installEventFilter(new ShowWatcher(calendar, [this, calendar] {
        if (FromDE->date() == kNoDate)
            calendar->setCurrentPage(QDate::currentDate().year(), QDate::currentDate().month());
    }));

    MoveBitBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), Qt(texts::kMoveCaption), Panel2);
    MoveBitBtn->setGeometry(8, 7, 184, 34);
    connect(MoveBitBtn, &QPushButton::clicked, this, [this] { MoveBitBtnClick(); });
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
    TabLabel->setGeometry(136, 56, kClientWidth - 136 - 14, TblLabel->height());
    TablePB = Bar(Panel2, 24, 72);
    AllLabel = Label(Panel2, texts::kAllTitle, 24, 96);
    AllPB = Bar(Panel2, 24, 112);

    for (QWidget* w : std::initializer_list<QWidget*>{BaseLabel1, BaseLabel2, EvFromLabel, TblLabel, TabLabel, AllLabel,
                                                      TablePB, AllPB})
        w->setFocusPolicy(::Qt::NoFocus);
    setTabOrder(EventsCB, FromDE);
    setTabOrder(FromDE, SourceFE);
    setTabOrder(SourceFE, DestFE);
    setTabOrder(DestFE, MoveBitBtn);
    setTabOrder(MoveBitBtn, CancelMoveBitBtn);
}

void TKestrixForm::CreateMenus() {
    mnuFile = menuBar()->addMenu(Qt(texts::kMenuFile));
    mnuFile_Source = mnuFile->addAction(Qt(texts::kMenuSource), this, [this] { mnuFile_SourceClick(); });
    mnuFile_Dest = mnuFile->addAction(Qt(texts::kMenuDest), this, [this] { mnuFile_DestClick(); });
    mnuFile->addSeparator();
    mnuFile_Move = mnuFile->addAction(Qt(texts::kMoveCaption), this, [this] { mnuFile_MoveClick(); });
    mnuHelp = menuBar()->addMenu(Qt(texts::kMenuHelp));
    mnuHelp_MainWindow = mnuHelp->addAction(Qt(texts::kMenuMainWindow), this, [this] { mnuHelp_MainWindowClick(); });
    mnuHelp->addSeparator();
    mnuHelp_About = mnuHelp->addAction(Qt(texts::kMenuAbout), this, [this] { mnuHelp_AboutClick(); });
}

void TKestrixForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (shown_) return;
    shown_ = true;
    // The main window comes up active. Where the window system does not activate it (no
    // window manager), the start-up checks still run once the window is up.
    activateWindow();
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

bool TKestrixForm::event(QEvent* e) {
    bool result = QMainWindow::event(e);
    if (e->type() == QEvent::WindowActivate) FormActivate();
    return result;
}

void TKestrixForm::closeEvent(QCloseEvent* e) {
    // During a run the window offers no close box; a window system that closes it anyway
    // (a keyboard shortcut of the window manager) is not followed.
    if (running_ && e->spontaneous()) {
        e->ignore();
        return;
    }
    e->accept();
}

void TKestrixForm::FormActivate() {
    if (activated_) return;
    activated_ = true;
    if (std::optional<std::string> failure = RunStartupChecks(*state_, FilePath(programFile_))) {
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, *failure);
        CloseItself(this);
    }
}

void TKestrixForm::SourceFEChange() { EqualityCheck(); }
void TKestrixForm::DestFEChange() { EqualityCheck(); }

void TKestrixForm::EqualityCheck() {
    QString source = TrimControls(SourceFE->text());
    QString dest = TrimControls(DestFE->text());
    if (source != dest || source.isEmpty()) {
        CheckMoveEnabled();
        return;
    }
    ShowBox(this, BoxKind::Error, texts::kErrorCaption, texts::kSameDatabases);
    MoveBitBtn->setEnabled(false);
    mnuFile_Move->setEnabled(false);
}

void TKestrixForm::CheckMoveEnabled() {
    bool enabled = !SourceFE->text().isEmpty() && !DestFE->text().isEmpty();
    MoveBitBtn->setEnabled(enabled);
    mnuFile_Move->setEnabled(enabled);
}

void TKestrixForm::SyncOptions() {
    state_->EventsOption = EventsCB->isChecked();
    QDate from = FromDE->date();
    state_->StartDate = db::DateTime{from.year(), from.month(), from.day(), 0, 0, 0, 0};
}

void TKestrixForm::MoveBitBtnClick() {
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
        driver_->MoveBitBtnClick(Cp1251(SourceFE->text()), Cp1251(DestFE->text()));
    } catch (const std::exception& e) {
        // The top-level handler: an error that left the run, shown after its cleanup.
        running_ = false;
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, e.what());
        return;
    }
    running_ = false;
}

void TKestrixForm::CancelMoveBitBtnClick() {
    if (ShowBox(this, BoxKind::Question, texts::kConfirmCaption, texts::kConfirmCancel,
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        state_->CancelFlag = true;
        cancelRequest_ = true;
    }
}

void TKestrixForm::Browse(QLineEdit* field) {
    if (std::optional<QString> file = OpenDatabaseFile(this, texts::kDatabaseDialogTitle, texts::kDatabaseDialogFilter))
        field->setText(*file);
}

void TKestrixForm::mnuFile_SourceClick() { Browse(SourceFE); }
void TKestrixForm::mnuFile_DestClick() { Browse(DestFE); }

void TKestrixForm::mnuHelp_MainWindowClick() {
    // No help viewer for this help file here: the file is handed to the desktop when present.
    std::string help = FindDataFile(FilePath(programFile_), "Kestrix.hlp");
    QString path = QString::fromStdString(help);
    if (QFileInfo::exists(path)) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TKestrixForm::ShowAboutBox() {
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
