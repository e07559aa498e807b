#include "gui/Viewers.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "db/Charset.h"
#include "db/Error.h"
#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

// Opens the dialog over its parent, non-modally, and adds a close button below content.
void Finish(QDialog* dialog, QWidget* content, QSize size) {
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(content);
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(Qt(texts::kClose), QDialogButtonBox::RejectRole);
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
    setWindowTitle(Qt(caption));
    Text = new QPlainTextEdit(this);
    Text->setReadOnly(true);
    Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Text->setPlainText(text);
    Finish(this, Text, QSize(760, 520));
}

QString ReadLogText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(Error::Kind::File, 0,
                    "Cannot open file \"" + FileNameToCp1251(path) + "\". " + file.errorString().toStdString());
    const QByteArray bytes = file.readAll();
    QString text = Qt(bytes.toStdString());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void ShowLog(QWidget* parent, const std::string& path) {
    QString text;
    try {
        text = ReadLogText(path);
    } catch (const std::exception& e) {
        // A log that is not there, or the reason one that is cannot be read.
        const bool missing = !QFile::exists(QString::fromStdString(path));
        ShowBox(parent, BoxKind::Error, texts::kErrorCaption,
                missing ? texts::kLogMissing + FileNameToCp1251(path) : std::string(e.what()));
        return;
    }
    new TextViewer(parent, texts::kLogCaption, text);
}

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Qt(texts::kHelpCaption));
    Browser = new QTextBrowser(this);
    Browser->setOpenLinks(false);
    Browser->setSource(QUrl(QStringLiteral("qrc:/help/MainWindow.html")));
    Finish(this, Browser, QSize(560, 520));
}

} // namespace kestrix::gui
