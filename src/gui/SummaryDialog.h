#pragma once
// The account of the run just ended, over the main window: a row per copied table (read,
// written, refused, seconds, references that became -1), whether every row is accounted for,
// and a button that opens the run log. Non-modal; deletes itself when closed.
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

private:
    void Fill(const RunAccount& account);
    std::string logPath_;
};

} // namespace kestrix::gui
