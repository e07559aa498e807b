#pragma once
// The run log in a viewer that never reads it whole: a log of tens of megabytes (a run that
// refused hundreds of thousands of rows) is shown a page of whole lines at a time, opening at
// its end, and searched through the file without loading it.
#include <optional>
#include <string>

#include <QDialog>
#include <QtGlobal>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestrix::gui {

class SearchBar;

// A file cut into pages of about pageBytes, each beginning at a line start (a line longer
// than the look-ahead is cut where the page would begin). Read afresh at every call, so that
// lines appended meanwhile appear.
class LogPages {
public:
    LogPages(std::string path, qint64 pageBytes);

    qint64 Size() const;
    int Count() const;   // at least 1, also for an empty file
    // Byte range [first, second) of the page.
    std::pair<qint64, qint64> Range(int page) const;
    int PageOf(qint64 offset) const;
    // The bytes of the range; raises the file error when the file cannot be read.
    std::string Read(qint64 from, qint64 to) const;
    // The first offset at or after from where needle (Windows-1251) occurs, letter case
    // aside, going on from the file's start when the end is reached.
    std::optional<qint64> Find(const std::string& needle, qint64 from) const;

private:
    qint64 Boundary(qint64 offset) const;
    std::optional<qint64> FindIn(const std::string& upperNeedle, qint64 from, qint64 to) const;

    std::string path_;
    qint64 pageBytes_;
};

class LogViewer : public QDialog {
public:
    static constexpr qint64 kPageBytes = qint64(1) << 20;
    // Raises the file error when the log cannot be read.
    LogViewer(QWidget* parent, const std::string& path, qint64 pageBytes = kPageBytes);

    int Page() const { return page_; }
    void ShowPage(int page);
    // Selects the next occurrence of the search field's text after the last one found (from
    // the page shown when there is none); false, with a message, when the log has none.
    bool FindNext();

    QPlainTextEdit* Text;
    QLabel* PageLabel;
    QPushButton *FirstButton, *PreviousButton, *NextButton, *LastButton;
    SearchBar* Search;
    QLineEdit* SearchField;   // the search bar's
    QPushButton* FindButton;

private:
    // Selects the next occurrence of text in the log; false when it has none.
    bool Find(const QString& text);
    void Select(qint64 offset, qint64 length);

    LogPages pages_;
    int page_ = 0;
    std::pair<qint64, qint64> range_{0, 0};
    std::string bytes_;                  // the page shown, as in the file
    std::optional<qint64> lastFound_;
};

// Opens a viewer on the run log, or an error box naming the file when it cannot be read.
void ShowLog(QWidget* parent, const std::string& path);

} // namespace kestrix::gui
