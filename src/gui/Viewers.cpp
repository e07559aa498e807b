#include "gui/Viewers.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

// Opens the dialog over its parent, non-modally, and adds a close button below content.
void Finish(QDialog* dialog, QWidget* content, QSize size) {
    auto* layout = new QVBoxLayout(dialog);
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
    Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Text->setPlainText(text);
    Finish(this, Text, QSize(760, 520));
}

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent) {
    setWindowTitle(FromCp1251(texts::kHelpCaption));
    Browser = new QTextBrowser(this);
    Browser->setOpenLinks(false);
    Browser->setSource(QUrl(QStringLiteral("qrc:/help/MainWindow.html")));
    Finish(this, Browser, QSize(560, 520));
}

} // namespace kestrix::gui
