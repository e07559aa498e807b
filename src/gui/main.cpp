// kestrix: the transfer program with its main window.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include <QApplication>
#include <QIcon>

#include "run/Texts.h"
#include "gui/Dialogs.h"
#include "gui/MainWindow.h"
#include "gui/MasterEventFilter.h"
#include "gui/TerminationSignals.h"
#include "db/Databases.h"
#include "messaging/MasterModule.h"

namespace {

// A wrong call: one line on standard error that says what is wrong, status 2.
int UsageError(const std::string& what) {
    std::cerr << "kestrix: " << what << "; see 'kestrix --help'\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kestrix;
    gui::BlockTerminationSignals();
    // Answered before the application object, so that they need no display; an argument
    // the window does not take is refused here too.
    std::optional<std::string> dataFolder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << "Usage: kestrix [--app-dir DIR]\n"
                         "       kestrix --help | --version\n"
                         "The window of Kestrix transfer: moves an access-control installation from one\n"
                         "Firebird database into another.\n"
                         "  --app-dir DIR  the folder of the data files (Conv.txt, Generator.txt, SQL/) and\n"
                         "                 of the run log Kestrix.log\n"
                         "  --help         print this text and exit\n"
                         "  --version      print the version and exit\n"
                         "See kestrix(1); the command line is kestrix-cli(1).\n";
            return 0;
        }
        if (arg == "--version") {
            std::cout << "kestrix " << KESTRIX_VERSION << "\n";
            return 0;
        }
        if (arg == "--app-dir") {
            if (i + 1 >= argc) return UsageError("--app-dir needs a value");
            dataFolder = argv[++i];
            continue;
        }
        return UsageError((arg.starts_with('-') ? "unknown option '" : "unexpected argument '") + arg + "'");
    }
    QApplication app(argc, argv);
    gui::UseRussianQtTexts();
    QApplication::setApplicationDisplayName(gui::FromCp1251(texts::kWindowTitle));
    QApplication::setWindowIcon(QIcon(":/icons/kestrix.png"));
    QApplication::setDesktopFileName("kestrix");   // the installed desktop entry

    // Created first, destroyed last: its destructor runs the shutdown sequence.
    messaging::MasterModule master;
    master.ShowMessage = [](const std::string& text) {
        gui::ShowBox(nullptr, gui::BoxKind::Information, texts::kWindowTitle, text);
    };
    gui::MasterEventFilter hook(master);
    app.installEventFilter(&hook);

    int status = 0;
    {
        std::unique_ptr<db::Databases> dm;
        try {
            dm = std::make_unique<db::Databases>();
        } catch (const std::exception& e) {
            gui::ShowBox(nullptr, gui::BoxKind::Error, texts::kErrorCaption, e.what());
            return 1;
        }
        gui::MainWindow form(*dm, QApplication::applicationFilePath().toStdString(), dataFolder);
        hook.SetMainWindow(&form);
        gui::TerminationSignals onSignal([&form] { form.EndOnSignal(); });
        form.show();
        status = app.exec();
        // A run or a check left waiting for a server that does not answer holds the data
        // module or the client library: the program ends without them.
        if (gui::MainWindow::ThreadsLeftBehind() > 0) _exit(status);
    }   // the window, then the data module
    return status;
}
