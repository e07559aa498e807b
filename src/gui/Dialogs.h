#pragma once
// The window's message boxes and file and folder dialogs, each behind one function that tests can
// intercept so that nothing modal blocks them.
#include <functional>
#include <optional>
#include <string>

#include <QMessageBox>
#include <QString>

class QWidget;

namespace kestrix::gui {

// The program's Windows-1251 text as Qt text (carriage returns become line breaks when shown).
QString FromCp1251(const std::string& cp1251);

// Qt's own texts (standard buttons, the file and folder dialogs, the calendar) in Russian
// whatever the locale, from Qt's translation qtbase_ru; false when it is not installed.
bool UseRussianQtTexts();

enum class BoxKind { Error, Warning, Question, Information };

struct Box {
    BoxKind kind;
    std::string caption;   // Windows-1251
    std::string text;      // Windows-1251, exactly as the program built it
    QMessageBox::StandardButtons buttons;
};

// When set, ShowBox hands every box to it instead of showing it; its result is the button
// "pressed".
using BoxHook = std::function<QMessageBox::StandardButton(const Box&)>;
BoxHook& MessageBoxHook();

// Shows a modal message box and returns the button the operator chose.
QMessageBox::StandardButton ShowBox(QWidget* parent, BoxKind kind, const std::string& caption,
                                    const std::string& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// When set, OpenDatabaseFile hands the request to it: the result is the confirmed file name,
// or nothing when the dialog was cancelled.
using FileDialogHook = std::function<std::optional<QString>(const QString& title, const QString& filter)>;
FileDialogHook& OpenFileDialogHook();

// The file-open dialog of the database fields: "Base name (patterns)|*.a;*.b" style filter.
std::optional<QString> OpenDatabaseFile(QWidget* parent, const std::string& title, const std::string& filter);

// When set, ChooseFolder hands the request to it: the chosen folder, or nothing when the
// dialog was cancelled.
using FolderDialogHook = std::function<std::optional<QString>(const QString& title, const QString& start)>;
FolderDialogHook& ChooseFolderHook();

// The standard folder dialog, opening at start.
std::optional<QString> ChooseFolder(QWidget* parent, const std::string& title, const QString& start);

// When set, SaveFile hands the request to it, as OpenFileDialogHook does for opening.
FileDialogHook& SaveFileDialogHook();

// The file-save dialog: the name of a file to write, or nothing when cancelled; a name given
// without a suffix gets the filter's first one.
std::optional<QString> SaveFile(QWidget* parent, const std::string& title, const std::string& filter);

// "Description|*.a;*.b" as Qt's "Description (*.a *.b)"; a description that ends with those
// patterns already is taken as it is.
QString QtFilter(const std::string& cp1251Filter);
// file, or file with the first suffix of a Qt filter when it has none.
QString WithDefaultSuffix(const QString& file, const QString& filter);

} // namespace kestrix::gui
