#pragma once
// Read-only viewers inside the program: a text (the run log, the check's report) and the
// help page of the main window. Each opens non-modally over its parent and deletes itself
// when closed.
#include <string>

#include <QDialog>

class QPlainTextEdit;
class QTextBrowser;

namespace kestrix::gui {

class TextViewer : public QDialog {
public:
    // caption: Windows-1251; text: UTF-8 (Qt's own encoding of std::string).
    TextViewer(QWidget* parent, const std::string& caption, const QString& text);
    QPlainTextEdit* Text;
};

// The run log (Windows-1251, CR LF) shown as text. Raises the file error when it cannot be read.
QString ReadLogText(const std::string& path);
// Opens a viewer on the run log, or an error box naming the file when it cannot be read.
void ShowLog(QWidget* parent, const std::string& path);

class HelpViewer : public QDialog {
public:
    explicit HelpViewer(QWidget* parent);
    QTextBrowser* Browser;
};

} // namespace kestrix::gui
