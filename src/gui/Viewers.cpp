#include "gui/Viewers.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/Dialogs.h"
#include "gui/SearchBar.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

// Opens the dialog over its parent, non-modally, with a close button below content and the
// bar above it, if any.
void Finish(QDialog* dialog, QWidget* content, QSize size, QWidget* bar = nullptr) {
    auto* layout = new QVBoxLayout(dialog);
    if (bar) layout->addWidget(bar);
    layout->addWidget(content);
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(FromCp1251(texts::kClose), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->setAttribute(::Qt::WA_DeleteOnClose);
    dialog->resize(size);
    // Not modal: a modal viewer would block the main window, and with it the window system's
    // request to close the program.
    dialog->show();
}

} // namespace

TextViewer::TextViewer(QWidget* parent, const std::string& caption, const QString& text) : QDialog(parent) {
    setWindowTitle(FromCp1251(caption));
    Text = new QPlainTextEdit(this);
    Text->setReadOnly(true);
    // A long line is read whole in the window's width, broken at a blank where it has one.
    Text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Text->setPlainText(text);
    Search = new SearchBar(this, caption, [this](const QString& needle) { return Find(needle); });
    // Another text is looked for from where the occurrence found last begins.
    Search->OnEdited = [this] {
        QTextCursor cursor = Text->textCursor();
        cursor.setPosition(cursor.selectionStart());
        Text->setTextCursor(cursor);
    };
    Finish(this, Text, QSize(760, 520), Search);
}

// Letter case aside, as the log viewer looks.
bool TextViewer::Find(const QString& needle) {
    QTextCursor hit = Text->document()->find(needle, Text->textCursor());
    if (hit.isNull()) hit = Text->document()->find(needle, 0);
    if (hit.isNull()) return false;
    Text->setTextCursor(hit);
    return true;
}

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent) {
    setWindowTitle(FromCp1251(texts::kHelpCaption));
    Browser = new QTextBrowser(this);
    Browser->setOpenLinks(false);
    Browser->setSource(QUrl(QStringLiteral("qrc:/help/MainWindow.html")));
    Finish(this, Browser, QSize(560, 520));
}

} // namespace kestrix::gui
