#include "gui/Dialogs.h"

#include <QFileDialog>

#include "db/Charset.h"

namespace kestrix::gui {

QString Qt(const std::string& cp1251) { return QString::fromStdString(ToUtf8(cp1251)); }

BoxHook& MessageBoxHook() {
    static BoxHook hook;
    return hook;
}

FileDialogHook& OpenFileDialogHook() {
    static FileDialogHook hook;
    return hook;
}

FolderDialogHook& ChooseFolderHook() {
    static FolderDialogHook hook;
    return hook;
}

QMessageBox::StandardButton ShowBox(QWidget* parent, BoxKind kind, const std::string& caption,
                                    const std::string& text, QMessageBox::StandardButtons buttons) {
    if (MessageBoxHook()) return MessageBoxHook()(Box{kind, caption, text, buttons});

    QString shown = Qt(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
    case BoxKind::Error: icon = QMessageBox::Critical; break;
    case BoxKind::Warning: icon = QMessageBox::Warning; break;
    case BoxKind::Question: icon = QMessageBox::Question; break;
    case BoxKind::Information: icon = QMessageBox::Information; break;
    }
    QMessageBox box(icon, Qt(caption), shown, buttons, parent);
    // The leading blanks of the program's texts centre their lines by hand: keep them.
    box.setTextFormat(::Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString QtFilter(const std::string& cp1251Filter) {
    QString filter = Qt(cp1251Filter);
    qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0) return filter;
    QString patterns = filter.mid(bar + 1);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    return filter.left(bar) + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

std::optional<QString> OpenDatabaseFile(QWidget* parent, const std::string& title, const std::string& filter) {
    if (OpenFileDialogHook()) return OpenFileDialogHook()(Qt(title), QtFilter(filter));
    QFileDialog dialog(parent, Qt(title));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The description already lists the patterns; the dialog shows it as written.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(QtFilter(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> ChooseFolder(QWidget* parent, const std::string& title, const QString& start) {
    if (ChooseFolderHook()) return ChooseFolderHook()(Qt(title), start);
    const QString folder = QFileDialog::getExistingDirectory(parent, Qt(title), start);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

} // namespace kestrix::gui
