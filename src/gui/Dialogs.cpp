#include "gui/Dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "db/Charset.h"

namespace kestrix::gui {

QString FromCp1251(const std::string& cp1251) { return QString::fromStdString(ToUtf8(cp1251)); }

bool UseRussianQtTexts() {
    static QTranslator translator;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    if (!translator.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
    return QCoreApplication::installTranslator(&translator);
}

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

    QString shown = FromCp1251(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
    case BoxKind::Error: icon = QMessageBox::Critical; break;
    case BoxKind::Warning: icon = QMessageBox::Warning; break;
    case BoxKind::Question: icon = QMessageBox::Question; break;
    case BoxKind::Information: icon = QMessageBox::Information; break;
    }
    QMessageBox box(icon, FromCp1251(caption), shown, buttons, parent);
    // The leading blanks of the program's texts centre their lines by hand: keep them.
    box.setTextFormat(::Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString QtFilter(const std::string& cp1251Filter) {
    QString filter = FromCp1251(cp1251Filter);
    qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0) return filter;
    QString patterns = filter.mid(bar + 1);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    const QString listed = QStringLiteral(" (") + patterns + QLatin1Char(')');
    // A description that already ends with its patterns keeps them once.
    if (filter.left(bar).endsWith(listed)) return filter.left(bar);
    return filter.left(bar) + listed;
}

namespace {

// The suffix of a filter's first pattern ("csv" of "Tables (*.csv)"), empty for a wildcard.
QString FilterSuffix(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(QStringLiteral("(*."));
    if (open < 0) return {};
    const QString suffix = filter.mid(open + 3).section(QRegularExpression(QStringLiteral("[ );]")), 0, 0);
    return suffix.contains(QLatin1Char('*')) ? QString() : suffix;
}

} // namespace

QString WithDefaultSuffix(const QString& file, const QString& filter) {
    const QString suffix = FilterSuffix(filter);
    if (suffix.isEmpty() || !QFileInfo(file).suffix().isEmpty()) return file;
    return file + QLatin1Char('.') + suffix;
}

std::optional<QString> OpenDatabaseFile(QWidget* parent, const std::string& title, const std::string& filter) {
    if (OpenFileDialogHook()) return OpenFileDialogHook()(FromCp1251(title), QtFilter(filter));
    QFileDialog dialog(parent, FromCp1251(title));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The description already lists the patterns; the dialog shows it as written.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(QtFilter(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> ChooseFolder(QWidget* parent, const std::string& title, const QString& start) {
    if (ChooseFolderHook()) return ChooseFolderHook()(FromCp1251(title), start);
    const QString folder = QFileDialog::getExistingDirectory(parent, FromCp1251(title), start);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

FileDialogHook& SaveFileDialogHook() {
    static FileDialogHook hook;
    return hook;
}

std::optional<QString> SaveFile(QWidget* parent, const std::string& title, const std::string& filter) {
    const QString qtFilter = QtFilter(filter);
    QString file;
    if (SaveFileDialogHook()) {
        file = SaveFileDialogHook()(FromCp1251(title), qtFilter).value_or(QString());
    } else {
        QFileDialog dialog(parent, FromCp1251(title));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(qtFilter);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        // The dialog adds the suffix itself, so that it asks before replacing the suffixed file.
        dialog.setDefaultSuffix(FilterSuffix(qtFilter));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) file = dialog.selectedFiles().first();
    }
    if (file.isEmpty()) return std::nullopt;
    return WithDefaultSuffix(file, qtFilter);
}

} // namespace kestrix::gui
