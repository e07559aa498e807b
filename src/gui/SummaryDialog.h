#pragma once
// The account of the run just ended, over the main window: a row per copied table (read,
// written, refused, seconds, references that became -1), whether every row is accounted for,
// and a button that opens the run log. Non-modal; deletes itself when closed; Enter and
// Escape close it.
#include <string>

#include <QDialog>

#include "run/RunAccount.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace kestrix::gui {

class SummaryDialog : public QDialog {
public:
    SummaryDialog(QWidget* parent, const RunAccount& account, std::string logPath);

    QTableWidget* Table;
    QLabel* Verdict;
    QPushButton* LogButton;
    QPushButton* CloseButton;

private:
    void Fill(const RunAccount& account);
    // Every column as wide as its texts (the reference column up to a bound, beyond which a
    // text shows whole in its tooltip), and the dialog as wide as the table within the screen.
    void FitColumns();
    std::string logPath_;
};

} // namespace kestrix::gui
