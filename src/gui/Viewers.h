#pragma once
// Read-only viewers inside the program: a text (the check's report), with its lines wrapped
// and the log viewer's search, and the help page of the main window. Each opens non-modally
// over its parent and deletes itself when closed.
#include <string>

#include <QDialog>

class QPlainTextEdit;
class QTextBrowser;

namespace kestrix::gui {

class SearchBar;

class TextViewer : public QDialog {
public:
    // caption: Windows-1251; text: UTF-8 (Qt's own encoding of std::string).
    TextViewer(QWidget* parent, const std::string& caption, const QString& text);
    QPlainTextEdit* Text;
    SearchBar* Search;

private:
    // Selects the next occurrence of needle after the selection, going on from the start.
    bool Find(const QString& needle);
};


class HelpViewer : public QDialog {
public:
    explicit HelpViewer(QWidget* parent);
    QTextBrowser* Browser;
};

} // namespace kestrix::gui
