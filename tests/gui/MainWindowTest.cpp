// The main window offscreen: the start rule, the start-up checks, the about item, the
// posted close request, and whole runs started from the window.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <optional>
#include <random>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QTableWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPointer>
#include <QScrollBar>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolButton>
#include <QTest>
#include <QTextBlock>
#include <QtTest/qtestspontaneevent.h>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <unistd.h>

#include "run/Texts.h"
#include "gui/Dialogs.h"
#include "gui/MainWindow.h"
#include "gui/MasterEventFilter.h"
#include "gui/SearchBar.h"
#include "gui/LogViewer.h"
#include "gui/LoginDialog.h"
#include "gui/SummaryDialog.h"
#include "gui/TerminationSignals.h"
#include "gui/Viewers.h"
#include "messaging/MasterModule.h"
#include "support/Fixtures.h"
#include "support/HeldRow.h"
#include "support/Process.h"

namespace kestrix::gui {
namespace {

using test::Db;
using test::TempDir;
using test::WriteFile;

// Typed key by key; QTest::keyClicks knows only ASCII keys, so each character comes as the
// text of its key event, as a keyboard layout delivers it.
void Type(QLineEdit* field, const std::string& utf8) {
    for (QChar c : QString::fromStdString(utf8))
        QTest::sendKeyEvent(QTest::Click, field, ::Qt::Key_unknown, QString(c), ::Qt::NoModifier);
}

// The window's control of that name and class.
template <class T> T* Named(QObject& window, const char* name) {
    auto* found = dynamic_cast<T*>(window.findChild<QObject*>(QString::fromLatin1(name)));
    if (!found) throw std::logic_error(std::string("the window has no control ") + name);
    return found;
}

// The window's controls, found by their object names.
struct Controls {
    explicit Controls(MainWindow& window) : window(window) {}
    template <class T> T* Named(const char* name) const { return gui::Named<T>(window, name); }
    MainWindow& window;
    QLineEdit* SourceFE = Named<QLineEdit>("SourceFE");
    QLineEdit* DestFE = Named<QLineEdit>("DestFE");
    QToolButton* SourceBrowseBtn = Named<QToolButton>("SourceBrowseBtn");
    QToolButton* DestBrowseBtn = Named<QToolButton>("DestBrowseBtn");
    QCheckBox* EventsCB = Named<QCheckBox>("EventsCB");
    QLabel* EvFromLabel = Named<QLabel>("EvFromLabel");
    DateField* FromDE = Named<DateField>("FromDE");
    QToolButton* ClearDateBtn = Named<QToolButton>("ClearDateBtn");
    QPushButton* MoveBitBtn = Named<QPushButton>("MoveBitBtn");
    QPushButton* CancelMoveBitBtn = Named<QPushButton>("CancelMoveBitBtn");
    QLabel* TblLabel = Named<QLabel>("TblLabel");
    QLabel* TabLabel = Named<QLabel>("TabLabel");
    QProgressBar* TablePB = Named<QProgressBar>("TablePB");
    QProgressBar* AllPB = Named<QProgressBar>("AllPB");
    QLabel* DataFolderLabel = Named<QLabel>("DataFolderLabel");
    QMenu* mnuFile = Named<QMenu>("mnuFile");
    QAction* mnuFile_Source = Named<QAction>("mnuFile_Source");
    QAction* mnuFile_Dest = Named<QAction>("mnuFile_Dest");
    QAction* mnuFile_Move = Named<QAction>("mnuFile_Move");
    QAction* mnuFile_Check = Named<QAction>("mnuFile_Check");
    QAction* mnuFile_Verify = Named<QAction>("mnuFile_Verify");
    QAction* mnuFile_Log = Named<QAction>("mnuFile_Log");
    QAction* mnuFile_DataFolder = Named<QAction>("mnuFile_DataFolder");
    QAction* mnuFile_Exit = Named<QAction>("mnuFile_Exit");
    QMenu* mnuHelp = Named<QMenu>("mnuHelp");
    QAction* mnuHelp_MainWindow = Named<QAction>("mnuHelp_MainWindow");
    QAction* mnuHelp_About = Named<QAction>("mnuHelp_About");
};

// Waits for the run started from the window to end; its thread tells the window thread.
void AwaitRunEnd(MainWindow& form) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Running(); }, 120000)) << "the run did not end";
}

// The ticks of a 50 ms timer of the window thread over the 2 s after start: some 40 while the
// window thread goes on taking its messages, none while it waits.
int TicksAfter(const std::function<void()>& start) {
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(50);
    start();
    QTest::qWait(2000);
    return ticks;
}

// Starts the check with its menu item and waits for its end: the item is off meanwhile.
void CheckFromWindow(MainWindow& form) {
    QAction* item = Named<QAction>(form, "mnuFile_Check");
    item->trigger();
    ASSERT_FALSE(item->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return item->isEnabled(); }, 120000)) << "the check did not end";
}

// Starts a run with the start button and waits for its end.
void RunFromWindow(MainWindow& form) {
    Controls(form).MoveBitBtn->click();
    AwaitRunEnd(form);
}

const char* kSchema =
    "CREATE TABLE HOSTS (HS_ID INTEGER NOT NULL PRIMARY KEY, HS_NAME VARCHAR(40));\n"
    "CREATE GENERATOR GEN_HOSTS;\n"
    "SET TERM ^ ;\n"
    "CREATE TRIGGER HOSTS_BI FOR HOSTS BEFORE INSERT AS BEGIN\n"
    "  IF (NEW.HS_ID IS NULL) THEN NEW.HS_ID = GEN_ID(GEN_HOSTS, 1); END^\n"
    "SET TERM ; ^\n"
    "CREATE TABLE SETTINGS (ST_NAME VARCHAR(20), ST_VALUE VARCHAR(20));\n";

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.File("SQL"));
        WriteFile(dir.File("Conv.txt"), "* list\r\nHOSTS=HS_ID\r\n");
        WriteFile(dir.File("Generator.txt"), "GEN_HOSTS=HOSTS/HS_ID\r\n");
        WriteFile(dir.File("SQL/_Upd.sql"), "INSERT INTO SETTINGS VALUES ('pre', 'x')\r\n");
        WriteFile(dir.File("SQL/Upd.sql"), "INSERT INTO SETTINGS VALUES ('post', 'y')\r\n");
        MessageBoxHook() = [this](const Box& box) {
            boxes.push_back(box);
            return box.kind == BoxKind::Question ? answer : QMessageBox::Ok;
        };
        // The folder dialog answers from folders, then is cancelled; remembered folders go
        // to a settings file of this test.
        ChooseFolderHook() = [this](const QString& title, const QString&) {
            asked.push_back(title);
            std::optional<QString> folder;
            if (!folders.empty()) folder = QString::fromStdString(folders.front());
            if (!folders.empty()) folders.erase(folders.begin());
            return folder;
        };
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.File("settings")));
    }
    void TearDown() override {
        // A run left connecting holds the databases until its server answers.
        EXPECT_TRUE(QTest::qWaitFor([] { return MainWindow::ThreadsLeftBehind() == 0; }, 120000));
        MessageBoxHook() = nullptr;
        OpenFileDialogHook() = nullptr;
        ChooseFolderHook() = nullptr;
        SaveFileDialogHook() = nullptr;
    }

    // program: the program file, beside the data files unless told otherwise.
    std::unique_ptr<MainWindow> MakeForm(std::string program = "", std::optional<std::string> dataFolder = {}) {
        if (program.empty()) program = dir.File("kestrix");
        auto form = std::make_unique<MainWindow>(dm, program, dataFolder);
        form->Driver().Control().postScriptPause = std::chrono::milliseconds(0);
        return form;
    }
    // Shows the window and lets it become active, which runs the start-up checks.
    void ShowAndActivate(MainWindow& form) {
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> result;
        for (const Box& box : boxes) result.push_back(box.text);
        return result;
    }
    void MakeDatabases() {
        test::CreateDatabase(source, std::string(kSchema) + "INSERT INTO HOSTS VALUES (3, 'alpha');\n"
                                                            "INSERT INTO HOSTS VALUES (8, 'beta');\n");
        test::CreateDatabase(dest, std::string(kSchema) + "SET GENERATOR GEN_HOSTS TO 500;\n");
    }

    TempDir dir;
    std::string source = dir.File("source.fdb");
    std::string dest = dir.File("dest.fdb");
    db::Databases dm;
    // A folder named name holding a copy of the data files.
    std::string CopyOfDataFiles(const std::string& name) {
        const std::string folder = dir.File(name);
        std::filesystem::create_directories(folder + "/SQL");
        for (const char* file : {"Conv.txt", "Generator.txt", "SQL/_Upd.sql", "SQL/Upd.sql"})
            std::filesystem::copy_file(dir.File(file), folder + "/" + file);
        return folder;
    }

    std::vector<Box> boxes;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    std::vector<std::string> folders;   // answers of the folder dialog
    std::vector<QString> asked;         // its titles, one per time it was shown
};

TEST_F(MainWindowTest, StartsEmptyWithStartAndCancelDisabled) {
    auto form = MakeForm();
    const Controls ui(*form);
    EXPECT_EQ(form->windowTitle(), FromCp1251(texts::kWindowTitle));
    EXPECT_EQ(form->centralWidget()->size(), QSize(479, 311));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & ::Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(ui.SourceFE->text().isEmpty());
    EXPECT_TRUE(ui.DestFE->text().isEmpty());
    EXPECT_FALSE(ui.MoveBitBtn->isEnabled());
    EXPECT_FALSE(ui.mnuFile_Move->isEnabled());
    EXPECT_FALSE(ui.CancelMoveBitBtn->isEnabled());
    EXPECT_FALSE(ui.EventsCB->isChecked());
    EXPECT_TRUE(ui.FromDE->text().trimmed().isEmpty()) << ui.FromDE->text().toStdString();
    EXPECT_EQ(ui.TablePB->maximum(), 100);
    EXPECT_EQ(ui.AllPB->value(), 0);
    EXPECT_TRUE(ui.TabLabel->text().isEmpty());
    EXPECT_TRUE(ui.TabLabel->font().bold());
    EXPECT_EQ(ui.TabLabel->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, StartFollowsBothNamesAndRefusesEqualOnes) {
    auto form = MakeForm();
    const Controls ui(*form);
    QTest::keyClicks(ui.SourceFE, "a.fdb");
    EXPECT_FALSE(ui.MoveBitBtn->isEnabled());
    QTest::keyClick(ui.DestFE, 'b');
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    EXPECT_TRUE(ui.mnuFile_Move->isEnabled());
    EXPECT_TRUE(ui.mnuFile_Check->isEnabled());
    EXPECT_TRUE(boxes.empty());

    // Equal after trimming blanks and control characters at both ends.
    ui.DestFE->setText(" \ta.fdb  ");
    ASSERT_EQ(Texts(), std::vector<std::string>{texts::kSameDatabases});
    EXPECT_EQ(boxes[0].kind, BoxKind::Error);
    EXPECT_FALSE(ui.MoveBitBtn->isEnabled());
    EXPECT_FALSE(ui.mnuFile_Move->isEnabled());
    EXPECT_FALSE(ui.mnuFile_Check->isEnabled());

    // Letter case counts; changing either name to a different text enables again.
    ui.SourceFE->setText("A.fdb");
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    EXPECT_TRUE(ui.mnuFile_Move->isEnabled());
    ui.SourceFE->setText("a.fdb ");
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(ui.MoveBitBtn->isEnabled());
    EXPECT_EQ(boxes.size(), 2u);

    // Clearing both: disabled, no message.
    ui.SourceFE->clear();
    ui.DestFE->clear();
    EXPECT_FALSE(ui.MoveBitBtn->isEnabled());
    EXPECT_FALSE(ui.mnuFile_Move->isEnabled());
    EXPECT_FALSE(ui.mnuFile_Check->isEnabled());
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(MainWindowTest, BlanksOnlyCountAsFilled) {
    auto form = MakeForm();
    const Controls ui(*form);
    ui.SourceFE->setText("   ");
    ui.DestFE->setText("b.fdb");
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    // Two blank texts trim to the same empty text: that is not a refusal.
    ui.DestFE->setText(" ");
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, FileMenuItemsFillTheFieldsLikeTyping) {
    auto form = MakeForm();
    const Controls ui(*form);
    std::vector<QString> asked;
    std::optional<QString> chosen = QStringLiteral("/data/base.fdb");
    OpenFileDialogHook() = [&](const QString& title, const QString& filter) {
        asked.push_back(title);
        asked.push_back(filter);
        return chosen;
    };
    ui.mnuFile_Source->trigger();
    EXPECT_EQ(ui.SourceFE->text(), QStringLiteral("/data/base.fdb"));
    EXPECT_EQ(asked.at(0), FromCp1251(texts::kDatabaseDialogTitle));
    EXPECT_EQ(asked.at(1), FromCp1251(texts::kDatabaseDialogTitle) + QStringLiteral(" (*.gdb, *.fdb) (*.gdb *.fdb)"));
    ui.mnuFile_Dest->trigger();
    EXPECT_EQ(Texts(), std::vector<std::string>{texts::kSameDatabases});
    EXPECT_FALSE(ui.MoveBitBtn->isEnabled());

    chosen.reset();   // cancelled: nothing changes
    ui.mnuFile_Dest->trigger();
    EXPECT_EQ(ui.DestFE->text(), QStringLiteral("/data/base.fdb"));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(MainWindowTest, StartupChecksPassOnceAtTheFirstActivation) {
    WriteFile(dir.File("Kestrix.log"), "old run\r\n");
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Options().appDir, dir.Path() + "/");
    EXPECT_EQ(form->Options().tableListLines, 2);
    EXPECT_EQ(test::ReadFile(dir.File("Kestrix.log")), "");
    EXPECT_EQ(QApplication::focusWidget(), ui.EventsCB);

    // Activated again: the checks do not run again.
    std::filesystem::remove(dir.File("Conv.txt"));
    QEvent activation(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activation);
    EXPECT_TRUE(boxes.empty());
}

// A failed start-up check shows its message. Beside the data files the program then ends, as it
// always has; a folder given or remembered is asked for again (cancelled here: the program ends).
TEST_F(MainWindowTest, FailedStartupCheckShowsItsMessageThenEndsOrAsksForAnotherFolder) {
    struct Case {
        std::string name;
        bool given, remembered;
        std::vector<const char*> removed;   // the generator list is not checked after the table list
        std::string message;
    };
    for (const Case& c : {Case{"beside", false, false, {"Generator.txt"}, texts::kGeneratorListMissing},
                          Case{"given", true, false, {"Conv.txt", "Generator.txt"}, texts::kTableListMissing},
                          Case{"remembered", false, true, {"Generator.txt"}, texts::kGeneratorListMissing}}) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        asked.clear();
        const std::string folder = CopyOfDataFiles(c.name);
        for (const char* file : c.removed) std::filesystem::remove(folder + "/" + file);
        if (c.remembered)
            QSettings(QStringLiteral("kestrix"), QStringLiteral("kestrix"))
                .setValue(QStringLiteral("dataFolder"), QString::fromStdString(folder));
        const bool beside = !c.given && !c.remembered;
        auto form = MakeForm(beside ? folder + "/kestrix" : dir.File("bin/kestrix"),
                             c.given ? std::optional<std::string>(folder) : std::nullopt);
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }));
        ASSERT_EQ(Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(asked.size(), beside ? 0u : 1u);
        EXPECT_TRUE(std::filesystem::exists(folder + "/Kestrix.log"));
        EXPECT_EQ(std::filesystem::file_size(folder + "/Kestrix.log"), 0u);
        EXPECT_FALSE(form->isVisible());
    }
}

TEST_F(MainWindowTest, InstalledWindowAsksForItsFolderRemembersItAndRerunsTheChecks) {
    const std::string program = dir.File("bin/kestrix");   // no table list beside it
    std::filesystem::create_directories(dir.File("empty"));
    folders = {dir.File("empty"), dir.Path()};
    auto form = MakeForm(program);
    const Controls ui(*form);
    ShowAndActivate(*form);
    // The folder without a table list is refused with the check's message and asked again.
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], FromCp1251(texts::kDataFolderDialogTitle));
    EXPECT_EQ(Texts(), std::vector<std::string>{texts::kTableListMissing});
    EXPECT_EQ(form->Options().appDir, dir.Path() + "/");
    EXPECT_EQ(form->Options().tableListLines, 2);
    EXPECT_EQ(ui.DataFolderLabel->text(), FromCp1251(texts::kDataFolderStatus) + QString::fromStdString(dir.Path() + "/"));
    EXPECT_TRUE(ui.DataFolderLabel->isVisible());
    EXPECT_EQ(form->centralWidget()->size(), QSize(479, 311));

    // The next start takes the remembered folder without asking; one given on the command line
    // goes first and is not remembered.
    const std::string other = CopyOfDataFiles("other");
    for (const std::optional<std::string>& given : {std::optional<std::string>(other), std::optional<std::string>()}) {
        auto next = MakeForm(program, given);
        ShowAndActivate(*next);
        EXPECT_EQ(next->Options().appDir, given.value_or(dir.Path()) + "/");
    }
    EXPECT_EQ(asked.size(), 2u);

    // Between runs another folder: its checks run, its log starts empty, and it is remembered.
    WriteFile(other + "/Conv.txt", "HOSTS=HS_ID\r\n*\r\n*\r\n");
    WriteFile(other + "/Kestrix.log", "old run\r\n");
    folders = {other};
    ui.mnuFile_DataFolder->trigger();
    EXPECT_EQ(form->Options().appDir, other + "/");
    EXPECT_EQ(form->Options().tableListLines, 3);
    EXPECT_EQ(test::ReadFile(other + "/Kestrix.log"), "");
    EXPECT_TRUE(ui.DataFolderLabel->text().endsWith(QString::fromStdString(other + "/")));
    // Cancelled: the folder in use stays.
    ui.mnuFile_DataFolder->trigger();
    EXPECT_EQ(form->Options().appDir, other + "/");
    EXPECT_EQ(asked.size(), 4u);
    auto last = MakeForm(program);
    ShowAndActivate(*last);
    EXPECT_EQ(last->Options().appDir, other + "/");
    EXPECT_EQ(Texts().size(), 1u);
}

// The file of a loaded shared library, by one of its names.
std::string LibraryFile(const char* name) {
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    link_map* map = nullptr;
    if (!library || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0) return {};
    std::string file = map->l_name;
    dlclose(library);
    return file;
}

TEST_F(MainWindowTest, AboutLoadsTheLibraryBesideOrBelowTheProgramOrReportsWhatIsMissing) {
    // A library without the entry point, in the private library folder of an installed program.
    const std::string other = LibraryFile("libz.so.1");
    ASSERT_FALSE(other.empty());
    std::filesystem::create_directories(dir.File("lib/kestrix"));
    std::filesystem::copy_file(other, dir.File("lib/kestrix/") + kAboutLibrary);
    struct Case {
        std::string program;
        std::vector<std::string> boxes;
        bool aboutShown;
    } cases[] = {
        {dir.File("kestrix"), {texts::kAboutLoadFailed}, false},
        {dir.File("bin/kestrix"), {texts::kAboutEntryMissing}, false},
        {std::string(KESTRIX_BINARY_DIR) + "/kestrix", {}, true},   // the build's library beside it
    };
    for (const Case& c : cases) {
        boxes.clear();
        auto form = MakeForm(c.program);
        const Controls ui(*form);
        QString about;
        QTimer::singleShot(0, form.get(), [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                about = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
                box->close();
            }
        });
        ui.mnuHelp_About->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(Texts(), c.boxes) << c.program;
        for (const Box& box : boxes) EXPECT_TRUE(box.kind == BoxKind::Error && box.caption == texts::kErrorCaption);
        EXPECT_EQ(about.contains(QStringLiteral("Версия " KESTRIX_TEST_VERSION)), c.aboutShown) << about.toStdString();
        if (c.aboutShown) {
            // The client library's own words, "LI-V6.3.11.33637 Firebird 3.0".
            EXPECT_TRUE(about.contains(QRegularExpression(QStringLiteral("Firebird: \\S+ Firebird \\d")))) << about.toStdString();
        }
    }
}

// Tab from the events option: the focus goes on to the next control of the window, however
// many stops a control makes inside itself; each browse button is a stop after its field.
TEST_F(MainWindowTest, KeyboardWalksTheDescribedOrderAndTheMenusHaveAccelerators) {
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QStringLiteral("a.fdb"));
    ui.DestFE->setText(QStringLiteral("b.fdb"));
    ASSERT_EQ(QApplication::focusWidget(), ui.EventsCB) << "the window opens with the events option focused";
    ui.CancelMoveBitBtn->setEnabled(true);   // as during a run
    const std::vector<QWidget*> order = {ui.EventsCB,      ui.FromDE,     ui.SourceFE,
                                         ui.SourceBrowseBtn, ui.DestFE,     ui.DestBrowseBtn,
                                         ui.MoveBitBtn,    ui.CancelMoveBitBtn, ui.EventsCB};
    auto control = [&](QWidget* w) {
        while (w && std::find(order.begin(), order.end(), w) == order.end()) w = w->parentWidget();
        return w;
    };
    // The chain Tab follows, control by control.
    std::vector<QWidget*> chain = {ui.EventsCB};
    for (QWidget* w = ui.EventsCB->nextInFocusChain(); chain.size() < order.size(); w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & ::Qt::TabFocus) || !w->isEnabled() || !w->isVisibleTo(form.get())) continue;
        if (QWidget* now = control(w); now && now != chain.back()) chain.push_back(now);
        if (w == ui.EventsCB) break;
    }
    EXPECT_EQ(chain, order);
    // And the keys: into the date field, and from the source name on round to the events option.
    QTest::keyClick(ui.EventsCB, ::Qt::Key_Tab);
    EXPECT_EQ(control(QApplication::focusWidget()), ui.FromDE);
    ui.SourceFE->setFocus();
    std::vector<QWidget*> walked = {control(QApplication::focusWidget())};
    for (std::size_t press = 3; press < order.size(); ++press) {
        QTest::keyClick(QApplication::focusWidget(), ::Qt::Key_Tab);
        walked.push_back(control(QApplication::focusWidget()));
    }
    EXPECT_EQ(walked, std::vector<QWidget*>(order.begin() + 2, order.end()));
    // A browse button reached so takes Space: its file dialog fills its field.
    OpenFileDialogHook() = [](const QString&, const QString&) { return std::optional<QString>(QStringLiteral("/data/c.fdb")); };
    ui.DestBrowseBtn->setFocus();
    QTest::keyClick(QApplication::focusWidget(), ::Qt::Key_Space);
    EXPECT_EQ(ui.DestFE->text(), QStringLiteral("/data/c.fdb"));

    // Every item of a menu has its own letter.
    EXPECT_EQ(ui.mnuFile->title(), QStringLiteral("&") + FromCp1251(texts::kMenuFile));
    EXPECT_EQ(ui.mnuHelp->title(), QStringLiteral("&") + FromCp1251(texts::kMenuHelp));
    for (QMenu* menu : {ui.mnuFile, ui.mnuHelp}) {
        QSet<QChar> letters;
        qsizetype items = 0;
        for (QAction* item : menu->actions()) {
            if (item->isSeparator()) continue;
            ++items;
            const qsizetype amp = item->text().indexOf(QLatin1Char('&'));
            ASSERT_GE(amp, 0) << item->text().toStdString();
            letters.insert(item->text().at(amp + 1).toLower());
        }
        EXPECT_EQ(letters.size(), items) << menu->title().toStdString();
    }
}

// A key of a Russian letter, as a Russian keyboard layout delivers it.
void RussianKey(QWidget* widget, char16_t letter, ::Qt::KeyboardModifiers modifiers = ::Qt::NoModifier) {
    QTest::sendKeyEvent(QTest::Click, widget, static_cast<::Qt::Key>(QChar(letter).toUpper().unicode()),
                        QString(QChar(letter)), modifiers);
}

// The master module with its close-request hook installed for the object's life; the messages
// it shows are kept.
struct CloseRequestHook {
    messaging::MasterModule master;
    std::vector<std::string> shown;
    MasterEventFilter filter{master};
    CloseRequestHook() {
        master.ShutdownPause = {};
        master.ShowMessage = [this](const std::string& text) { shown.push_back(text); };
        QCoreApplication::instance()->installEventFilter(&filter);
    }
    ~CloseRequestHook() { QCoreApplication::instance()->removeEventFilter(&filter); }
};

// "Выход" outside a run ends the program at once, however it is chosen, as the close box does:
// the "Wm_Close" box is for close requests of other programs, not for the window's own commands.
TEST_F(MainWindowTest, ExitEndsTheProgramAtOnceWithoutTheCloseRequestBox) {
    CloseRequestHook hook;
    std::vector<std::string>& shown = hook.shown;

    using Choose = std::function<void(MainWindow&, const Controls&)>;
    const std::pair<const char*, Choose> ways[] = {
        {"Ctrl+Q", [](MainWindow& form, const Controls&) { QTest::keyClick(&form, ::Qt::Key_Q, ::Qt::ControlModifier); }},
        {"the menu by mouse",
         [](MainWindow& form, const Controls& ui) {
             QMenuBar* bar = form.menuBar();
             QTest::mouseClick(bar, ::Qt::LeftButton, {}, bar->actionGeometry(ui.mnuFile->menuAction()).center());
             ASSERT_TRUE(QTest::qWaitFor([&] { return ui.mnuFile->isVisible(); }));
             QTest::mouseClick(ui.mnuFile, ::Qt::LeftButton, {}, ui.mnuFile->actionGeometry(ui.mnuFile_Exit).center());
         }},
        {"the menu by keyboard",
         [](MainWindow& form, const Controls& ui) {
             RussianKey(&form, u'ф', ::Qt::AltModifier);
             ASSERT_TRUE(QTest::qWaitFor([&] { return ui.mnuFile->isVisible(); }));
             RussianKey(ui.mnuFile, u'х');
         }},
    };
    for (const auto& [name, choose] : ways) {
        SCOPED_TRACE(name);
        shown.clear();
        auto form = MakeForm();
        const Controls ui(*form);
        EXPECT_EQ(ui.mnuFile_Exit->text().remove(QLatin1Char('&')), FromCp1251(texts::kMenuExit));
        EXPECT_EQ(ui.mnuFile_Exit->shortcut(), QKeySequence(::Qt::CTRL | ::Qt::Key_Q));
        hook.filter.SetMainWindow(form.get());
        ShowAndActivate(*form);
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        giveUp.start(10000);
        QTimer::singleShot(0, form.get(), [&] { choose(*form, ui); });
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_TRUE(shown.empty()) << shown.front();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, PostedCloseRequestShowsWmCloseFirstOwnCloseDoesNot) {
    CloseRequestHook hook;
    std::vector<std::string>& shown = hook.shown;

    auto form = MakeForm();
    hook.filter.SetMainWindow(form.get());
    form->show();
    QCoreApplication::postEvent(form.get(), new QCloseEvent);
    EXPECT_TRUE(form->isVisible());   // nothing happens before the queue is served
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, std::vector<std::string>{"Wm_Close"});
    EXPECT_FALSE(form->isVisible());

    // The window system's close command (delivered to the window as a spontaneous event,
    // as for the close box) and the window's own closing pass without a box.
    form->show();
    QCloseEvent fromWindowSystem;
    QSpontaneKeyEvent::setSpontaneous(&fromWindowSystem);
    QCoreApplication::instance()->notify(form->windowHandle(), &fromWindowSystem);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(shown.size(), 1u);
    form->show();
    CloseItself(form.get());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(shown.size(), 1u);
}

// The viewer of that class opened over the window (the classes have no meta-object of their own).
template <class T> T* Opened(QWidget* form) {
    for (QDialog* dialog : form->findChildren<QDialog*>())
        if (auto* viewer = dynamic_cast<T*>(dialog)) return viewer;
    return nullptr;
}

// The rows of the summary dialog's table, cell by cell.
std::vector<std::vector<std::string>> SummaryRows(const SummaryDialog& summary) {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < summary.Table->rowCount(); ++row) {
        rows.emplace_back();
        for (int column = 0; column < summary.Table->columnCount(); ++column)
            if (column != 4) rows.back().push_back(summary.Table->item(row, column)->text().toStdString());
    }
    return rows;
}

TEST_F(MainWindowTest, WholeRunFromTheWindowFinishesUnlocked) {
    MakeDatabases();
    // A third host the destination refuses: its name is taken.
    Db(source).Exec("INSERT INTO HOSTS VALUES (9, 'alpha')");
    Db(dest).Exec("CREATE UNIQUE INDEX HOSTS_NAME ON HOSTS (HS_NAME)");
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString("\"" + source + "\""));
    ui.DestFE->setText(QString::fromStdString(dest));
    ASSERT_TRUE(ui.MoveBitBtn->isEnabled());

    // Locked as the run starts, on its own thread.
    QTest::mouseClick(ui.MoveBitBtn, ::Qt::LeftButton);
    EXPECT_TRUE(form->Running());
    EXPECT_FALSE(ui.SourceFE->isEnabled() || ui.mnuFile->menuAction()->isEnabled() || ui.mnuFile_Exit->isEnabled() ||
                 ui.EventsCB->isEnabled() || ui.MoveBitBtn->isEnabled() ||
                 bool(form->windowFlags() & ::Qt::WindowCloseButtonHint));
    EXPECT_TRUE(ui.CancelMoveBitBtn->isEnabled());
    AwaitRunEnd(*form);

    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text);
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusFinished));
    EXPECT_EQ(ui.TablePB->value(), 0);
    EXPECT_EQ(ui.AllPB->value(), 0);
    EXPECT_TRUE(ui.SourceFE->isEnabled() && ui.DestFE->isEnabled() && ui.EventsCB->isEnabled() &&
                ui.FromDE->isEnabled() && ui.MoveBitBtn->isEnabled());
    EXPECT_TRUE(ui.mnuFile->menuAction()->isEnabled() && ui.mnuHelp->menuAction()->isEnabled() &&
                ui.mnuFile_Exit->isEnabled());
    EXPECT_FALSE(ui.CancelMoveBitBtn->isEnabled());
    EXPECT_TRUE(form->windowFlags() & ::Qt::WindowCloseButtonHint);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(dm.DestinationConnection().IsConnected() || dm.SecondDestinationConnection().IsConnected() || dm.SourceConnection().IsConnected());

    Db check(dest);
    EXPECT_EQ(check.Rows("SELECT HS_ID, HS_NAME FROM HOSTS ORDER BY HS_ID"),
              (std::vector<std::vector<std::string>>{{"501", "alpha"}, {"502", "beta"}}));
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM SETTINGS"), "2");

    // The account, in a dialog that does not block the window; its button opens the run log.
    auto* summary = Opened<SummaryDialog>(form.get());
    ASSERT_NE(summary, nullptr);
    EXPECT_TRUE(summary->isVisible() && !summary->isModal());
    EXPECT_EQ(summary->windowTitle(), FromCp1251(texts::kSummaryCaption + texts::kOutcomeFinished));
    EXPECT_EQ(SummaryRows(*summary), (std::vector<std::vector<std::string>>{{"HOSTS", "3", "2", "1", "0", ""}}));
    EXPECT_EQ(summary->Verdict->text(), FromCp1251(texts::Formatted(texts::kAllAccountedRefused, 2, 1)));
    summary->LogButton->click();
    auto* log = Opened<LogViewer>(form.get());
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->Text->toPlainText().contains(FromCp1251(texts::kInsertError + "HOSTS"))) << log->Text->toPlainText().toStdString();

    // A second run replaces the dialog of the first.
    RunFromWindow(*form);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int summaries = 0;
    for (QDialog* dialog : form->findChildren<QDialog*>()) summaries += dynamic_cast<SummaryDialog*>(dialog) != nullptr;
    EXPECT_EQ(summaries, 1);
}

TEST_F(MainWindowTest, ReadBackItemIsRememberedAndTheSummaryCountsAndSavesTheKeys) {
    MakeDatabases();
    Controls(*MakeForm()).mnuFile_Verify->setChecked(false);
    Controls(*MakeForm()).mnuFile_Verify->setChecked(true);
    auto form = MakeForm();
    const Controls ui(*form);
    EXPECT_TRUE(ui.mnuFile_Verify->isChecked()) << "remembered between starts";
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(source));
    ui.DestFE->setText(QString::fromStdString(dest));
    RunFromWindow(*form);

    auto* summary = Opened<SummaryDialog>(form.get());
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(SummaryRows(*summary), (std::vector<std::vector<std::string>>{{"HOSTS", "2", "2", "0", "0", "", "2", "0"}}));
    EXPECT_TRUE(summary->Verdict->text().contains(FromCp1251(texts::kAllVerified))) << summary->Verdict->text().toStdString();
    // A name typed without a suffix gets the filter's.
    std::string asked = dir.File("keys");
    QString filter;
    SaveFileDialogHook() = [&](const QString&, const QString& shown) {
        filter = shown;
        return QString::fromStdString(asked);
    };
    summary->KeyMapButton->click();
    EXPECT_EQ(filter, QStringLiteral("Таблицы CSV (*.csv)"));
    EXPECT_EQ(test::ReadFile(dir.File("keys.csv")), "table,old_key,new_key\nHOSTS,3,501\nHOSTS,8,502\n");
    // The destination is no place for the keys: refused, and left whole.
    asked = dest;
    summary->KeyMapButton->click();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, texts::kKeyMapClash + dest);
    EXPECT_EQ(Db(dest).Scalar("SELECT COUNT(*) FROM HOSTS"), "2");
}

TEST_F(MainWindowTest, CancelConfirmedInterruptsAndWarnsWithASingleYes) {
    MakeDatabases();
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(source));
    ui.DestFE->setText(QString::fromStdString(dest));
    ui.EventsCB->setChecked(true);
    QTimer::singleShot(0, form.get(), [&] { QTest::mouseClick(ui.CancelMoveBitBtn, ::Qt::LeftButton); });
    ui.mnuFile_Move->trigger();
    AwaitRunEnd(*form);

    ASSERT_EQ(Texts(), (std::vector<std::string>{texts::kConfirmCancel, texts::kInterruptedWarning}));
    EXPECT_EQ(boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(boxes[1].kind, BoxKind::Warning);
    EXPECT_EQ(boxes[1].buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    EXPECT_TRUE(form->Driver().Control().cancel.Requested());
    ASSERT_NE(Opened<SummaryDialog>(form.get()), nullptr);
    EXPECT_EQ(Opened<SummaryDialog>(form.get())->windowTitle(), FromCp1251(texts::kSummaryCaption + texts::kOutcomeInterrupted));
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    EXPECT_FALSE(ui.CancelMoveBitBtn->isEnabled());
    Db check(dest);
    // Seen while connecting (nothing written) or at the start of the transfer sequence.
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM SETTINGS WHERE ST_NAME = 'post'"), "0");
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM HOSTS"), "0");
}

// A run from the window whose clearing DELETE waits for a row another attachment holds.
class WaitingDeleteTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        MakeDatabases();
        Db(dest).Exec("INSERT INTO HOSTS VALUES (1, 'kept')");
        held.emplace(dest, "UPDATE HOSTS SET HS_NAME = 'held'");
        monitor.emplace(dest);
        form = MakeForm();
        ShowAndActivate(*form);
        Controls(*form).SourceFE->setText(QString::fromStdString(source));
        Controls(*form).DestFE->setText(QString::fromStdString(dest));
    }
    // The window keeps taking its messages while the DELETE waits: a timer of its thread sees
    // the statement waiting and calls onWait once.
    void OnceTheDeleteWaits(std::function<void()> onWait) {
        QObject::connect(&poll, &QTimer::timeout, [this, onWait] {
            if (monitor->Scalar("SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$STATE = 1 AND "
                                "MON$SQL_TEXT STARTING WITH 'Delete From HOSTS'") == "0")
                return;
            poll.stop();
            onWait();
        });
        poll.start(20);
    }

    std::optional<test::HeldRow> held;
    std::optional<Db> monitor;
    std::unique_ptr<MainWindow> form;
    QTimer poll;
};

TEST_F(WaitingDeleteTest, CancelPressedMeanwhileInterrupts) {
    const Controls ui(*form);
    OnceTheDeleteWaits([&] { QTest::mouseClick(ui.CancelMoveBitBtn, ::Qt::LeftButton); });
    // Should the cancel not reach the statement, the row is given up after a minute.
    held->During([&] { RunFromWindow(*form); });

    EXPECT_FALSE(held->GaveUp()) << "the waiting DELETE was not cancelled";
    EXPECT_EQ(Texts(), (std::vector<std::string>{texts::kConfirmCancel, texts::kInterruptedWarning}));
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusInterrupted));
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    EXPECT_FALSE(dm.DestinationConnection().IsConnected());
    EXPECT_EQ(Db(dest).Rows("SELECT HS_NAME FROM HOSTS"), (std::vector<std::vector<std::string>>{{"held"}}));
}

// A server that does not answer the connect: the window goes on taking its messages and
// refuses to close; the cancel button ends the run at once, as interrupted with nothing
// written (the command line's rule), and the window runs again once the server is back.
TEST_F(MainWindowTest, ConnectToAStalledServerKeepsTheWindowAliveAndIsCancelledAtOnce) {
    MakeDatabases();
    test::PrivateServer server;
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(server.Remote(source)));
    ui.DestFE->setText(QString::fromStdString(server.Remote(dest)));
    server.Signal(SIGSTOP);
    EXPECT_GE(TicksAfter([&] { ui.MoveBitBtn->click(); }), 10) << "the window thread waited";
    ASSERT_TRUE(form->Running());
    QCloseEvent fromWindowSystem;
    QSpontaneKeyEvent::setSpontaneous(&fromWindowSystem);
    QCoreApplication::instance()->notify(form->windowHandle(), &fromWindowSystem);
    EXPECT_TRUE(form->isVisible()) << "closed during the connect";

    QTest::mouseClick(ui.CancelMoveBitBtn, ::Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Running(); }, 2000));
    EXPECT_EQ(Texts(), (std::vector<std::string>{texts::kConfirmCancel, texts::kInterruptedWarning}));
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusInterrupted));
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled() && ui.SourceFE->isEnabled());
    EXPECT_FALSE(ui.CancelMoveBitBtn->isEnabled());
    ASSERT_NE(Opened<SummaryDialog>(form.get()), nullptr);
    EXPECT_EQ(Opened<SummaryDialog>(form.get())->windowTitle(), FromCp1251(texts::kSummaryCaption + texts::kOutcomeInterrupted));

    // The run left connecting ends when the server answers, writing nothing.
    server.Signal(SIGCONT);
    ASSERT_TRUE(QTest::qWaitFor([] { return MainWindow::ThreadsLeftBehind() == 0; }, 120000));
    EXPECT_EQ(Db(server.Remote(dest)).Scalar("SELECT COUNT(*) FROM SETTINGS"), "0");
    boxes.clear();
    RunFromWindow(*form);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text);
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusFinished));
    EXPECT_EQ(Db(server.Remote(dest)).Scalar("SELECT COUNT(*) FROM HOSTS"), "2");
}

// A check against a server that does not answer runs on a thread of its own, as a run does:
// the window goes on taking its messages, the report comes once the server answers, and a
// window closed meanwhile does not wait for the check.
TEST_F(MainWindowTest, CheckAgainstAStalledServerKeepsTheWindowAlive) {
    MakeDatabases();
    test::PrivateServer server;
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(server.Remote(source)));
    ui.DestFE->setText(QString::fromStdString(server.Remote(dest)));
    server.Signal(SIGSTOP);
    // Should the window wait for the check after all, the server goes on after a while, so
    // that the test fails instead of hanging.
    std::jthread watchdog([&server](std::stop_token stop) {
        std::mutex mutex;
        std::unique_lock lock(mutex);
        std::condition_variable_any().wait_for(lock, stop, std::chrono::seconds(60), [] { return false; });
        if (!stop.stop_requested()) server.Signal(SIGCONT);
    });
    EXPECT_GE(TicksAfter([&] { ui.mnuFile_Check->trigger(); }), 10) << "the window thread waited";
    EXPECT_FALSE(ui.mnuFile_Check->isEnabled()) << "a second check offered while the first waits";
    EXPECT_EQ(Opened<TextViewer>(form.get()), nullptr);

    server.Signal(SIGCONT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Opened<TextViewer>(form.get()) != nullptr; }, 120000))
        << (boxes.empty() ? "" : boxes[0].text);
    EXPECT_EQ(Opened<TextViewer>(form.get())->windowTitle(), FromCp1251(texts::kCheckCaption + ": " + texts::kCheckNoProblems));
    EXPECT_TRUE(ui.mnuFile_Check->isEnabled());
    EXPECT_TRUE(boxes.empty());

    // Closed, as the program ends with its window, and deleted: neither waits for the server.
    server.Signal(SIGSTOP);
    ui.mnuFile_Check->trigger();
    form->close();
    EXPECT_EQ(MainWindow::ThreadsLeftBehind(), 1);
    form.reset();
    server.Signal(SIGCONT);
    EXPECT_TRUE(QTest::qWaitFor([] { return MainWindow::ThreadsLeftBehind() == 0; }, 120000));
}

// A termination signal during a run (here while a statement waits for a lock) interrupts it
// at its next safe point and ends the program with the status of an interrupted run; no box
// waits for an answer.
TEST_F(WaitingDeleteTest, SignalMeanwhileInterruptsTheRunAndEndsTheProgram) {
    TerminationSignals onSignal([&] { form->EndOnSignal(); });
    OnceTheDeleteWaits([] { kill(getpid(), SIGTERM); });
    int status = -1;
    held->During([&] {
        Controls(*form).MoveBitBtn->click();
        status = QApplication::exec();
    });
    EXPECT_FALSE(held->GaveUp()) << "the waiting DELETE was not cancelled";
    EXPECT_EQ(status, 130);
    EXPECT_FALSE(form->Running() || form->isVisible());
    EXPECT_TRUE(boxes.empty()) << boxes[0].text;
    EXPECT_EQ(Db(dest).Scalar("SELECT COUNT(*) FROM SETTINGS WHERE ST_NAME = 'post'"), "0");
}

// The program outside a run ends at once with status 0 on each termination signal.
TEST_F(MainWindowTest, SignalOutsideARunEndsTheProgramAtOnce) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove(dir.File("Kestrix.log"));
        test::BackgroundProcess window({std::string(KESTRIX_BINARY_DIR) + "/kestrix", "--app-dir", dir.Path()});
        // Up once its start-up checks have made the run log.
        ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(dir.File("Kestrix.log")); }, 60000))
            << window.Err();
        kill(window.Pid(), signal);
        ASSERT_TRUE(window.EndsBy(std::chrono::steady_clock::now() + std::chrono::seconds(10))) << window.Err();
        EXPECT_EQ(window.Wait().exitCode, 0);
    }
}

// The program's command line is answered before the window, so without a display: a usage
// error on one line with status 2, the help and the version on standard output with status 0.
TEST_F(MainWindowTest, CommandLineIsAnsweredWithoutADisplay) {
    const std::string seeHelp = "; see 'kestrix --help'\n";
    struct Row {
        std::vector<std::string> args;
        int exitCode;
        std::string out;   // its first line
        std::string err;
    };
    const Row rows[] = {
        {{"--bogus"}, 2, "", "kestrix: unknown option '--bogus'" + seeHelp},
        {{"--app-dir", dir.Path(), "-platform", "offscreen"}, 2, "", "kestrix: unknown option '-platform'" + seeHelp},
        {{"--app-dir", dir.Path(), "extra"}, 2, "", "kestrix: unexpected argument 'extra'" + seeHelp},
        {{"--app-dir"}, 2, "", "kestrix: --app-dir needs a value" + seeHelp},
        {{"--app-dir", dir.Path(), "--version"}, 0, "kestrix " KESTRIX_TEST_VERSION "\n", ""},
        {{"-h"}, 0, "Usage: kestrix [--app-dir DIR]\n", ""},
    };
    const test::Environment noDisplay{{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
                                      {"QT_QPA_PLATFORM", std::nullopt}};
    for (const Row& row : rows) {
        std::vector<std::string> argv = {std::string(KESTRIX_BINARY_DIR) + "/kestrix"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        std::string called;
        for (const std::string& arg : row.args) called += arg + " ";
        SCOPED_TRACE(called);
        test::BackgroundProcess program(argv, noDisplay);
        // A window that came up is ended with the process.
        ASSERT_TRUE(program.EndsBy(std::chrono::steady_clock::now() + std::chrono::seconds(20))) << program.Err();
        const test::ProcessResult run = program.Wait();
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), row.out);
        if (row.exitCode == 2) { EXPECT_EQ(run.out, ""); }
        EXPECT_EQ(run.err, row.err);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("Kestrix.log")));
}

TEST_F(MainWindowTest, CancelAnsweredNoChangesNothing) {
    MakeDatabases();
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(source));
    ui.DestFE->setText(QString::fromStdString(dest));
    answer = QMessageBox::No;
    QTimer::singleShot(0, form.get(), [&] { ui.CancelMoveBitBtn->click(); });
    RunFromWindow(*form);
    EXPECT_EQ(Texts(), std::vector<std::string>{texts::kConfirmCancel});
    EXPECT_FALSE(form->Driver().Control().cancel.Requested());
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusFinished));
}

TEST_F(MainWindowTest, TypedRussianFolderNamesRunEmbeddedAndThroughAServer) {
    namespace fs = std::filesystem;
    test::PrivateServer server;
    for (bool remote : {false, true}) {
        // The program, its data files and both databases under Russian names with a blank.
        const std::string folder = dir.File(remote ? "Сервер И база" : "Базы И данные");
        fs::create_directories(folder + "/SQL");
        for (const char* file : {"Conv.txt", "Generator.txt", "SQL/_Upd.sql", "SQL/Upd.sql"})
            fs::copy_file(dir.File(file), folder + "/" + file);
        MakeDatabases();
        const std::string from = folder + "/источник.fdb", to = folder + "/приемник.fdb";
        fs::rename(source, from);
        fs::rename(dest, to);
        auto name = [&](const std::string& path) { return remote ? server.Remote(path) : path; };

        auto form = MakeForm(folder + "/kestrix");
        const Controls ui(*form);
        ShowAndActivate(*form);
        Type(ui.SourceFE, name(from));
        Type(ui.DestFE, name(to));
        ASSERT_EQ(ui.SourceFE->text().toStdString(), name(from));
        RunFromWindow(*form);

        EXPECT_EQ(Texts(), std::vector<std::string>{}) << folder;
        EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusFinished));
        EXPECT_NE(test::ReadFile(folder + "/Kestrix.log").find(texts::kCopyPassHeader), std::string::npos);
        Db check(name(to));
        EXPECT_EQ(check.Rows("SELECT HS_NAME FROM HOSTS ORDER BY HS_ID"),
                  (std::vector<std::vector<std::string>>{{"alpha"}, {"beta"}}));
    }
}

TEST_F(MainWindowTest, OneDatabaseUnderTwoNamesIsRefusedWhenTheRunStarts) {
    MakeDatabases();
    std::filesystem::create_symlink(source, dir.File("link.fdb"));
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(source));
    ui.DestFE->setText(QString::fromStdString(dir.File("link.fdb")));
    ASSERT_TRUE(ui.MoveBitBtn->isEnabled()) << "the texts differ";
    RunFromWindow(*form);
    EXPECT_EQ(Texts(), std::vector<std::string>{texts::kSameDatabases});
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());
    Db check(source);
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM HOSTS"), "2");
}

TEST_F(MainWindowTest, FailedRunIsShownAfterTheWindowIsUnlocked) {
    MakeDatabases();
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QString::fromStdString(dir.File("missing.fdb")));
    ui.DestFE->setText(QString::fromStdString(dest));
    bool unlockedWhenShown = false;
    MessageBoxHook() = [&](const Box& box) {
        boxes.push_back(box);
        unlockedWhenShown = ui.MoveBitBtn->isEnabled() && !ui.CancelMoveBitBtn->isEnabled();
        return QMessageBox::Ok;
    };
    RunFromWindow(*form);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::Error);
    EXPECT_NE(boxes[0].text.find("missing.fdb"), std::string::npos) << boxes[0].text;
    EXPECT_TRUE(unlockedWhenShown);
    EXPECT_FALSE(form->Running());
    auto* summary = Opened<SummaryDialog>(form.get());
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->windowTitle(), FromCp1251(texts::kSummaryCaption + texts::kOutcomeFailed));
    EXPECT_EQ(summary->Table->rowCount(), 0);
    Db check(dest);
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM SETTINGS"), "0");
}

// The right edge of a label's text, measured in its font.
int TextRight(const QLabel* label) {
    return label->x() + QFontMetrics(label->font()).horizontalAdvance(label->text());
}

TEST_F(MainWindowTest, NoTextCoversAnotherAtUsualFontSizes) {
    auto form = MakeForm();
    const Controls ui(*form);
    ui.TabLabel->setText(FromCp1251(texts::kStatusGenerators));
    for (int points : {8, 9, 10, 11, 12, 14}) {
        SCOPED_TRACE(points);
        QFont font = form->font();
        font.setPointSize(points);
        form->setFont(font);
        EXPECT_LT(TextRight(ui.TblLabel), ui.TabLabel->x());
        EXPECT_LE(ui.EventsCB->x() + ui.EventsCB->sizeHint().width(), ui.EvFromLabel->x());
        EXPECT_LT(TextRight(ui.EvFromLabel), ui.FromDE->x());
        EXPECT_LE(ui.FromDE->x() + ui.FromDE->width(), ui.ClearDateBtn->x());
        EXPECT_GE(ui.TabLabel->height(), QFontMetrics(ui.TabLabel->font()).height());
        // The described positions stay where the text before them fits.
        if (TextRight(ui.TblLabel) + 6 <= 136) { EXPECT_EQ(ui.TabLabel->x(), 136); }
        if (TextRight(ui.EvFromLabel) + 6 <= 272) { EXPECT_EQ(ui.FromDE->x(), 272); }
    }
}

TEST_F(MainWindowTest, DateFieldCanBeMadeEmptyAgain) {
    auto form = MakeForm();
    const Controls ui(*form);
    ui.FromDE->setDate(QDate(2026, 1, 5));
    EXPECT_FALSE(ui.FromDE->text().trimmed().isEmpty());
    QTest::mouseClick(ui.ClearDateBtn, ::Qt::LeftButton);
    EXPECT_TRUE(ui.FromDE->text().trimmed().isEmpty()) << ui.FromDE->text().toStdString();
    EXPECT_EQ(ui.ClearDateBtn->toolTip(), FromCp1251(texts::kClearDate));
}

// The start date as an operator gives it: typed with or without dots, typed over the date
// before once clicked and selected whole, stepped with the arrows; a text that is no date stays as typed, in red, and keeps the start disabled while
// the journals are ticked. The run takes the date and its account tells it.
TEST_F(MainWindowTest, StartDateTypedSteppedOrRefused) {
    struct Row {
        const char* typed;
        std::vector<int> keys;   // pressed after typing
        QDate date;              // the field's date; DateField::kNoDate for none
        bool valid;
        const char* over = "";   // the text left in the field before, then clicked, selected whole and typed over
    };
    const QDate none = DateField::kNoDate, today = QDate::currentDate();
    const Row rows[] = {
        {"01.01.2026", {}, QDate(2026, 1, 1), true},
        {"01012026", {}, QDate(2026, 1, 1), true},
        {"1.2.2026", {}, QDate(2026, 2, 1), true},
        {"15.03.2026", {::Qt::Key_Up}, QDate(2027, 3, 15), true},    // the year, at the cursor
        {"15.03.2026", {::Qt::Key_Home, ::Qt::Key_Down}, QDate(2026, 3, 14), true},
        {"", {::Qt::Key_Up}, today, true},
        {"31.02.2026", {}, none, false},
        {"29.02.2026", {::Qt::Key_Return}, none, false},
        {"01.13.2026", {}, none, false},
        {"01.01.", {}, none, false},
        {"", {}, none, true},
        {"15.01.2026", {}, QDate(2026, 1, 15), true, "01.01.2026"},
        {"15012026", {}, QDate(2026, 1, 15), true, "01.01.2026"},
        {"15.03.2026", {::Qt::Key_Home, ::Qt::Key_Down}, QDate(2026, 3, 14), true, "01.01.2026"},
        {"31.02.2026", {}, QDate(2026, 1, 1), false, "01.01.2026"},
    };
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    ui.SourceFE->setText(QStringLiteral("a.fdb"));
    ui.DestFE->setText(QStringLiteral("b.fdb"));
    ui.EventsCB->setChecked(true);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.typed) + ", keys pressed after it: " + std::to_string(row.keys.size()) +
                     ", over: " + row.over);
        ui.ClearDateBtn->click();
        ui.FromDE->setFocus();
        if (*row.over) {
            QTest::keyClicks(ui.FromDE, row.over);
            QTest::keyClick(ui.FromDE, ::Qt::Key_Tab);
            QLineEdit* edit = ui.FromDE->findChild<QLineEdit*>();
            QTest::mouseClick(edit, ::Qt::LeftButton, {}, edit->rect().center());
            ASSERT_EQ(QApplication::focusWidget(), ui.FromDE);
            QTest::keyClick(ui.FromDE, ::Qt::Key_A, ::Qt::ControlModifier);
            EXPECT_EQ(edit->selectedText(), QString::fromLatin1(row.over));
        }
        QTest::keyClicks(ui.FromDE, row.typed);
        for (int key : row.keys) QTest::keyClick(ui.FromDE, static_cast<::Qt::Key>(key));
        EXPECT_EQ(ui.FromDE->date(), row.date);
        EXPECT_EQ(ui.FromDE->HasValidText(), row.valid);
        EXPECT_EQ(ui.MoveBitBtn->isEnabled(), row.valid);
        // Tab leaves the field, empty or not, and a text that is no date stays as typed.
        QTest::keyClick(ui.FromDE, ::Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), ui.FromDE);
        EXPECT_EQ(ui.FromDE->HasValidText(), row.valid);
        EXPECT_EQ(ui.FromDE->date(), row.date);
        if (row.valid) {
            EXPECT_EQ(ui.FromDE->text().trimmed(), row.date == none ? QString() : row.date.toString(QStringLiteral("dd.MM.yyyy")));
            EXPECT_NE(ui.FromDE->findChild<QLineEdit*>()->palette().color(QPalette::Text), QColor(::Qt::red));
        } else {
            EXPECT_EQ(ui.FromDE->text(), QString::fromLatin1(row.typed));
            EXPECT_EQ(ui.FromDE->findChild<QLineEdit*>()->palette().color(QPalette::Text), QColor(::Qt::red));
        }
    }
    // Unticked journals need no date.
    ui.EventsCB->setChecked(false);
    EXPECT_TRUE(ui.MoveBitBtn->isEnabled());

    MakeDatabases();
    ui.SourceFE->setText(QString::fromStdString(source));
    ui.DestFE->setText(QString::fromStdString(dest));
    ui.EventsCB->setChecked(true);
    ui.ClearDateBtn->click();
    ui.FromDE->setFocus();
    QTest::keyClicks(ui.FromDE, "01.01.2026");
    RunFromWindow(*form);
    EXPECT_EQ(form->Driver().Options().startDate, (db::DateTime{2026, 1, 1}));
    auto* summary = Opened<SummaryDialog>(form.get());
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->Journals->text(), FromCp1251(texts::kSummaryJournalsFrom) + QStringLiteral("01.01.2026"));
}

// Asked from a run's thread, the login dialog comes up on the window thread with the side
// named; OK gives the user and password and remembers the user only, Cancel gives nothing.
TEST_F(MainWindowTest, LoginDialogAskedFromARunThreadAnswersOnTheWindowThread) {
    QWidget window;
    window.show();
    struct Row {
        LoginSide side;
        bool ok;
        QString userShown;   // in the dialog as it comes up
    };
    for (const Row& row : {Row{LoginSide::Destination, true, QString()}, Row{LoginSide::Destination, false, "sysdba"},
                           Row{LoginSide::Source, true, QString()}}) {
        SCOPED_TRACE(static_cast<int>(row.side));
        std::optional<Login> answer{Login{"not", "asked"}};
        // The dialog runs its own loop on the window thread: a timer there answers it.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = dynamic_cast<LoginDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll.stop();
            EXPECT_EQ(dialog->Side->text(), FromCp1251(row.side == LoginSide::Source ? texts::kSourceTitle : texts::kDestTitle));
            EXPECT_EQ(dialog->User->text(), row.userShown);
            EXPECT_TRUE(dialog->Password->text().isEmpty());
            EXPECT_EQ(dialog->Password->echoMode(), QLineEdit::Password);
            dialog->User->setText(QStringLiteral("sysdba"));
            dialog->Password->setText(QStringLiteral("secret"));
            (row.ok ? dialog->OkButton : dialog->CancelButton)->click();
        });
        poll.start(20);
        std::atomic<bool> answered{false};
        std::thread run([&] {
            answer = AskLogin(&window, row.side, "login refused");
            answered = true;
        });
        const bool inTime = QTest::qWaitFor([&] { return answered.load(); }, 20000);
        if (!inTime && QApplication::activeModalWidget()) QApplication::activeModalWidget()->close();
        run.join();
        ASSERT_TRUE(inTime);
        if (row.ok) {
            ASSERT_TRUE(answer.has_value());
            EXPECT_EQ(answer->user, "sysdba");
            EXPECT_EQ(answer->password, "secret");
        } else {
            EXPECT_FALSE(answer.has_value());
        }
    }
    // Nothing of the password in the settings.
    EXPECT_EQ(test::ReadFile(dir.File("settings/kestrix/kestrix.conf")).find("secret"), std::string::npos);
}

// The client library takes 255 bytes, not characters, of a user name and of a password: the
// login dialog takes no more, typed or pasted.
TEST_F(MainWindowTest, LoginDialogTakesNoMoreThanTheClientLibraryTakes) {
    LoginDialog dialog(nullptr, LoginSide::Source, "login refused");
    for (QLineEdit* field : {dialog.User, dialog.Password}) {
        field->clear();
        field->insert(QString(254, QLatin1Char('x')));
        field->insert(QString::fromUtf8("\u0436"));   // two bytes in UTF-8
        EXPECT_EQ(field->text().toUtf8().size(), 254);
        field->insert(QStringLiteral("y"));
        EXPECT_EQ(field->text().toUtf8().size(), 255);
        field->insert(QStringLiteral("z"));
        EXPECT_EQ(field->text(), QString(254, QLatin1Char('x')) + QStringLiteral("y"));
    }
}

// A server with its own SYSDBA password refuses the destination's login: the login dialog
// asks for that side until the operator gives the right password or cancels; the answer is
// kept for the window's later runs and its check; a window deleted while the dialog waits
// does not wait for the run.
TEST_F(MainWindowTest, RefusedLoginIsAskedForUntilRightOrCancelledAndKeptForLaterRuns) {
    std::string password;
    std::random_device random;
    for (int i = 0; i < 16; ++i) password += "abcdefghijkmnpqrstuvwxyzACDEFGHJKLMNPQRTUVWXY345679"[random() % 51];
    test::PrivateServer server(password);
    MakeDatabases();
    const std::string remote = server.Remote(dest);   // the source is embedded: no login asked
    // Answers each dialog as it comes up: the password in typed, else Cancel.
    std::vector<std::string> typed;
    std::vector<QString> sides, users;
    const std::function<void(LoginDialog&)> answer = [&](LoginDialog& dialog) {
        sides.push_back(dialog.Side->text());
        users.push_back(dialog.User->text());
        if (typed.empty()) return dialog.CancelButton->click();
        dialog.Password->setText(QString::fromStdString(typed.front()));
        typed.erase(typed.begin());
        dialog.OkButton->click();
    };
    std::function<void(LoginDialog&)> onDialog;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = dynamic_cast<LoginDialog*>(QApplication::activeModalWidget())) onDialog(*dialog);
    });
    poll.start(20);
    auto startOn = [&](MainWindow& form) {
        ShowAndActivate(form);
        Controls(form).SourceFE->setText(QString::fromStdString(source));
        Controls(form).DestFE->setText(QString::fromStdString(remote));
    };

    {
        // Deleted while its dialog waits: the run's thread is answered Cancel and ends.
        auto form = MakeForm();
        const Controls ui(*form);
        startOn(*form);
        onDialog = [&](LoginDialog&) { form.reset(); };
        ui.MoveBitBtn->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form; }, 60000)) << "no login dialog";
        ASSERT_TRUE(QTest::qWaitFor([] { return MainWindow::ThreadsLeftBehind() == 0; }, 60000));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    onDialog = answer;

    auto form = MakeForm();
    const Controls ui(*form);
    startOn(*form);
    const std::string user = form->Options().destLogin.user;
    const std::string refusedText = texts::Formatted(texts::kDestLoginRefused, remote.c_str(), user.c_str());
    // The check asks too; cancelled, it says whom the server refused.
    CheckFromWindow(*form);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind(refusedText, 0), 0u) << boxes[0].text;
    EXPECT_EQ(Opened<TextViewer>(form.get()), nullptr);
    boxes.clear();
    RunFromWindow(*form);
    ASSERT_EQ(sides, (std::vector<QString>{FromCp1251(texts::kDestTitle), FromCp1251(texts::kDestTitle)}));
    EXPECT_EQ(users, (std::vector<QString>{QString::fromStdString(user), QString::fromStdString(user)}))
        << "the user tried";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(boxes[0].text.rfind(refusedText, 0), 0u) << boxes[0].text;
    EXPECT_EQ(Opened<SummaryDialog>(form.get())->windowTitle(), FromCp1251(texts::kSummaryCaption + texts::kOutcomeFailed));
    EXPECT_EQ(Db(dest).Scalar("SELECT COUNT(*) FROM SETTINGS"), "0");

    // A wrong password is asked again; the right one lets the run finish.
    boxes.clear();
    typed = {"not-" + password, password};
    RunFromWindow(*form);
    EXPECT_EQ(sides.size(), 4u);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text);
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusFinished));
    EXPECT_EQ(Db(dest).Rows("SELECT HS_NAME FROM HOSTS ORDER BY HS_ID"),
              (std::vector<std::vector<std::string>>{{"alpha"}, {"beta"}}));

    // Kept: neither the next run nor the check asks again.
    RunFromWindow(*form);
    EXPECT_EQ(ui.TabLabel->text(), FromCp1251(texts::kStatusFinished));
    CheckFromWindow(*form);
    EXPECT_NE(Opened<TextViewer>(form.get()), nullptr);
    EXPECT_EQ(sides.size(), 4u);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text);
    for (const std::string& file : {dir.File("Kestrix.log"), dir.File("settings/kestrix/kestrix.conf")})
        EXPECT_EQ(test::ReadFile(file).find(password), std::string::npos) << file;
}

// The check's report in a viewer of its own, with its lines wrapped and a search field.
TEST_F(MainWindowTest, CheckItemShowsWhatARunWouldDoAndWritesNothing) {
    MakeDatabases();
    WriteFile(dir.File("Conv.txt"), "HOSTS=HS_ID\r\nNOSUCHTABLE=X_ID\r\n");
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    std::filesystem::remove(dir.File("Kestrix.log"));
    ui.SourceFE->setText(QString::fromStdString(source));
    ui.DestFE->setText(QString::fromStdString(dest));
    CheckFromWindow(*form);

    auto* viewer = Opened<TextViewer>(form.get());
    ASSERT_NE(viewer, nullptr) << (boxes.empty() ? "" : boxes[0].text);
    // Missing in both databases: two problems.
    EXPECT_EQ(viewer->windowTitle().toStdString(), ToUtf8(texts::kCheckCaption + ": " + texts::kCheckProblems + "2"));
    const QString report = viewer->Text->toPlainText();
    // In the window's language, names as they are.
    EXPECT_TRUE(report.contains(
        QStringLiteral("Conv.txt, строка 1: HOSTS=HS_ID\n  действия:         очистка; копирование с новыми ключами")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("ПРОБЛЕМА: таблицы NOSUCHTABLE нет в приемнике")));
    EXPECT_TRUE(report.endsWith(FromCp1251(texts::kCheckProblems) + QStringLiteral("2\n")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Kestrix.log")));
    EXPECT_EQ(Db(dest).Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"), "500");

    // Searched as the log is: in any letter case, after the occurrence found last, going on from
    // the start; Enter in the field searches and leaves the viewer open.
    const QString problem = QStringLiteral("ПРОБЛЕМА: таблицы NOSUCHTABLE нет в ");
    viewer->Search->Field->setText(problem.toLower());
    std::vector<QString> lines;
    for (int press = 0; press < 3; ++press) {
        QTest::keyClick(viewer->Search->Field, ::Qt::Key_Return);
        ASSERT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->Text->textCursor().selectedText(), problem);
        lines.push_back(viewer->Text->textCursor().block().text());
    }
    EXPECT_EQ(lines, (std::vector<QString>{QStringLiteral("  ") + problem + QStringLiteral("приемнике"),
                                           QStringLiteral("  ") + problem + QStringLiteral("источнике"),
                                           QStringLiteral("  ") + problem + QStringLiteral("приемнике")}));
    viewer->Search->Field->setText(QStringLiteral("no such text"));
    EXPECT_FALSE(viewer->Search->FindNext());
    ASSERT_EQ(Texts(), std::vector<std::string>{texts::kLogNotFound + "no such text"});
    EXPECT_EQ(boxes[0].caption, texts::kCheckCaption + ": " + texts::kCheckProblems + "2");

    // Lines wider than the viewer wrap: nothing to scroll sideways.
    viewer->resize(300, 400);
    QCoreApplication::processEvents();
    int widest = 0;
    for (const QString& line : report.split(QLatin1Char('\n')))
        widest = std::max(widest, QFontMetrics(viewer->Text->font()).horizontalAdvance(line));
    ASSERT_GT(widest, viewer->Text->viewport()->width());
    EXPECT_EQ(viewer->Text->horizontalScrollBar()->maximum(), 0);
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Opened<TextViewer>(form.get()), nullptr);
}

TEST_F(MainWindowTest, LogViewerShowsTheWindows1251LogAndHelpIsInRussian) {
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    std::filesystem::remove(dir.File("Kestrix.log"));
    ui.mnuFile_Log->trigger();
    ASSERT_EQ(Texts(), std::vector<std::string>{texts::kLogMissing + dir.File("Kestrix.log")});
    // A log that is there but cannot be read is shown with the reason, not as missing.
    std::filesystem::create_directory(dir.File("Kestrix.log"));
    ui.mnuFile_Log->trigger();
    ASSERT_EQ(Texts().size(), 2u);
    EXPECT_EQ(Texts()[1].rfind("Cannot open file \"" + dir.File("Kestrix.log") + "\". ", 0), 0u) << Texts()[1];
    std::filesystem::remove(dir.File("Kestrix.log"));

    WriteFile(dir.File("Kestrix.log"), texts::kClearError + "HOSTS :  " + test::W("нет таблицы") + "\r\n\r\nend\r\n");
    ui.mnuFile_Log->trigger();
    auto* viewer = Opened<LogViewer>(form.get());
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->Text->toPlainText(), QStringLiteral("Ошибка очистки таблицы  HOSTS :  нет таблицы\n\nend\n"));
    EXPECT_TRUE(viewer->Text->isReadOnly());

    ui.mnuHelp_MainWindow->trigger();
    auto* help = Opened<HelpViewer>(form.get());
    ASSERT_NE(help, nullptr);
    const QString page = help->Browser->toPlainText();
    for (const std::string& caption : {texts::kSourceTitle, texts::kMoveCaption, texts::kMenuCheck, texts::kMenuLog,
                                       texts::kMenuDataFolder})
        EXPECT_TRUE(page.contains(FromCp1251(caption).remove(QLatin1Char(':')).remove(QStringLiteral(" ...")))) << ToUtf8(caption);
}

// An account of two tables: one whose reference texts fit, one whose copy ended on a long error.
RunAccount TwoTableAccount(const std::string& error) {
    RunAccount account;
    account.Start();
    account.StageStarted(RunStage::Table, "CONTROLLERS");
    for (const char* column : {"CT_HS_ID", "CT_PCN_ID", "CT_ZONE_ID"}) {
        account.RowRead();
        account.RowDone(true);
        account.ReferenceUnmapped("CONTROLLERS", column);
    }
    account.StageStarted(RunStage::Table, "EVENTS");
    account.RowRead();
    account.RowDone(false);
    account.TableFailed(error);
    account.Close(RunOutcome::Failed);
    return account;
}

TEST_F(MainWindowTest, SummaryClosesOnEnterOrEscapeAndShowsItsColumnsWhole) {
    const std::string error = "lost connection to the database server " + std::string(300, 'x');
    const RunAccount account = TwoTableAccount(error);
    for (int key : {::Qt::Key_Return, ::Qt::Key_Escape}) {
        QPointer<SummaryDialog> summary = new SummaryDialog(nullptr, account, dir.File("Kestrix.log"));
        EXPECT_EQ(summary->Journals->text(), FromCp1251(texts::kSummaryNoJournals));
        summary->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(summary));
        QTableWidget* table = summary->Table;
        const QFontMetrics metrics(table->font());

        for (int column = 0; column < table->columnCount(); ++column) {
            const int width = table->columnWidth(column);
            EXPECT_GE(width, metrics.horizontalAdvance(table->horizontalHeaderItem(column)->text())) << column;
            EXPECT_GE(width, metrics.horizontalAdvance(table->item(0, column)->text())) << column;
        }
        // The dialog is as wide as its columns, or the screen; a fitting text has no tooltip, the
        // long error shows whole in its tooltip.
        EXPECT_TRUE(table->horizontalScrollBar()->maximum() == 0 ||
                    summary->width() >= summary->screen()->availableGeometry().width());
        EXPECT_TRUE(table->item(0, 6)->toolTip().isEmpty());
        EXPECT_EQ(table->item(1, 6)->toolTip(), FromCp1251(texts::kTableFailed + error));

        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, static_cast<::Qt::Key>(key));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(summary.isNull()) << key;
        EXPECT_TRUE(boxes.empty()) << "the log was asked for";
        delete summary.data();
    }
}

// Few tables show whole; many take 80% of the screen's height and scroll.
// What the bulk load left set is named under the verdict, which is then not green.
TEST_F(MainWindowTest, SummaryNamesWhatTheLoadLeftSet) {
    RunAccount account;   // every row accounted for, which alone would be green
    account.Start();
    account.StageStarted(RunStage::Table, "EVENTS");
    account.RowRead();
    account.RowDone(true);
    account.LineDone(false);
    const LeftSwitch left{"EVENTS_DATE", "EVENTS", "sort error"};
    account.SwitchLeft(left);
    account.Close(RunOutcome::Failed);
    auto* summary = new SummaryDialog(nullptr, account, dir.File("Kestrix.log"));
    EXPECT_TRUE(summary->Verdict->text().endsWith(FromCp1251("\n" + LeftText(left)))) << summary->Verdict->text().toStdString();
    EXPECT_NE(summary->Verdict->palette().color(QPalette::WindowText), QColor(0x00, 0x80, 0x00));
    delete summary;
}

TEST_F(MainWindowTest, SummaryOpensTallEnoughForEveryTableWithinTheScreen) {
    for (int tables : {3, 35, 120}) {
        RunAccount account;
        account.Start();
        for (int i = 0; i < tables; ++i) account.StageStarted(RunStage::Table, "T" + std::to_string(i));
        account.Close(RunOutcome::Finished);
        QPointer<SummaryDialog> summary = new SummaryDialog(nullptr, account, dir.File("Kestrix.log"));
        QCoreApplication::processEvents();
        const int limit = summary->screen()->availableGeometry().height() * 80 / 100;
        if (summary->Table->verticalScrollBar()->maximum() > 0)
            EXPECT_EQ(summary->height(), limit) << tables;
        else
            EXPECT_LE(summary->height(), limit) << tables;
        if (tables == 3) {
            EXPECT_EQ(summary->Table->verticalScrollBar()->maximum(), 0);
        }
        if (tables == 120) {
            EXPECT_GT(summary->Table->verticalScrollBar()->maximum(), 0);
        }
        delete summary.data();
    }
}

// Qt's own buttons and dialogs speak the window's language.
TEST_F(MainWindowTest, QtsOwnButtonsAndDialogsAreRussian) {
    ASSERT_TRUE(UseRussianQtTexts());
    QMessageBox box(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("x"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    auto shown = [&](QMessageBox::StandardButton b) { return box.button(b)->text().remove(QLatin1Char('&')); };
    EXPECT_EQ(shown(QMessageBox::Yes), QStringLiteral("Да"));
    EXPECT_EQ(shown(QMessageBox::No), QStringLiteral("Нет"));
    EXPECT_EQ(shown(QMessageBox::Cancel), QStringLiteral("Отмена"));
    QFileDialog dialog(nullptr, QStringLiteral("t"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    for (QLabel* label : dialog.findChildren<QLabel*>())
        EXPECT_FALSE(label->text().contains(QStringLiteral("Look in")) || label->text().contains(QStringLiteral("File name")))
            << label->text().toStdString();
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        EXPECT_FALSE(button->text().contains(QStringLiteral("Cancel"))) << button->text().toStdString();
}

TEST_F(MainWindowTest, ClosingTheWindowClosesEveryOtherWindowAndEndsTheLoop) {
    WriteFile(dir.File("Kestrix.log"), "line\r\n");
    auto form = MakeForm();
    const Controls ui(*form);
    ShowAndActivate(*form);
    auto* summary = new SummaryDialog(form.get(), TwoTableAccount("failed"), dir.File("Kestrix.log"));
    summary->LogButton->click();
    ui.mnuHelp_MainWindow->trigger();
    auto* outside = new QWidget;   // a window of the program without a parent
    outside->setAttribute(::Qt::WA_DeleteOnClose);
    outside->show();
    // No viewer blocks the main window: the window system drops a blocked window's close request.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Closed with the window system's close box, as the operator does.
    QTimer::singleShot(0, form.get(), [&] {
        QCloseEvent fromWindowSystem;
        QSpontaneKeyEvent::setSpontaneous(&fromWindowSystem);
        QCoreApplication::instance()->notify(form->windowHandle(), &fromWindowSystem);
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    giveUp.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    for (QWidget* window : QApplication::topLevelWidgets()) EXPECT_FALSE(window->isVisible()) << window->windowTitle().toStdString();
}

TEST_F(MainWindowTest, LargeLogIsShownAPageAtATimeFromItsEndAndSearchedWhole) {
    // Three and a half pages of lines that the page edges cut, two of them Russian.
    const std::string hit = test::W("Ошибка Добавления HOSTS");
    std::string log;
    for (int i = 0; log.size() < 7 * LogViewer::kPageBytes / 2; ++i) {
        log += "line " + std::to_string(i) + " " + std::string(37 + i % 11, 'x') + "\r\n";
        if (i == 20000 || i == 45000) log += hit + " " + std::to_string(i) + "\r\n";
    }
    WriteFile(dir.File("Kestrix.log"), log);
    LogViewer viewer(nullptr, dir.File("Kestrix.log"));

    // Opened at the end; every page whole lines, none much larger than a page, together the log.
    EXPECT_EQ(viewer.Page(), 3);
    EXPECT_FALSE(viewer.NextButton->isEnabled());
    QString pages;
    for (int page : {0, 1, 2, 3}) {
        viewer.ShowPage(page);
        const QString text = viewer.Text->toPlainText();
        EXPECT_LE(text.size(), LogViewer::kPageBytes + 64 * 1024) << page;
        EXPECT_TRUE(text.startsWith(QStringLiteral("line ")) || text.startsWith(FromCp1251(hit))) << page;
        EXPECT_TRUE(text.endsWith(QLatin1Char('\n'))) << page;
        pages += text;
    }
    EXPECT_EQ(pages, FromCp1251(log).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    // Searched in any letter case, from the page shown on, going on from the start.
    viewer.ShowPage(3);
    viewer.SearchField->setText(QStringLiteral("ошибка добавления hosts"));
    for (const char* expected : {" 20000", " 45000", " 20000"}) {
        ASSERT_TRUE(viewer.FindNext());
        EXPECT_EQ(viewer.Text->textCursor().selectedText(), FromCp1251(hit));
        const QString line = viewer.Text->textCursor().block().text();
        EXPECT_EQ(line, FromCp1251(hit) + QString::fromLatin1(expected));
    }
    EXPECT_EQ(viewer.Page(), static_cast<int>(log.find(hit + " 20000") / LogViewer::kPageBytes));
    EXPECT_TRUE(boxes.empty());
    viewer.SearchField->setText(QStringLiteral("no such text"));
    EXPECT_FALSE(viewer.FindNext());
    EXPECT_EQ(Texts(), std::vector<std::string>{texts::kLogNotFound + "no such text"});
}

} // namespace
} // namespace kestrix::gui
