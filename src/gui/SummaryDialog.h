#pragma once
// The account of the run just ended, over the main window: a row per copied table (read,
// written, refused, seconds, references that became -1), whether every row is accounted for,
// and a button that opens the run log; after a read-back the rows verified and differing per
// table; a button that saves the run's key map. Non-modal; deletes itself when closed; Enter
// and Escape close it.
#include <string>
#include <vector>

#include <QDialog>

#include "run/IdMaps.h"
#include "run/OutputFile.h"
#include "run/RunAccount.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace kestrix::gui {

class SummaryDialog : public QDialog {
public:
    // maps: the run's key map, saved by the button; runFiles: the databases and the run log,
    // which the key map may not replace.
    SummaryDialog(QWidget* parent, const RunAccount& account, std::string logPath, const IdMaps& maps = IdMaps(),
                  std::vector<NamedFile> runFiles = {});

    QTableWidget* Table;
    QLabel* Verdict;
    QLabel* Journals;   // the start date of the journals copied, or none copied
    QPushButton* LogButton;
    QPushButton* KeyMapButton;
    QPushButton* CloseButton;

private:
    void Fill(const RunAccount& account);
    void FillVerification(const RunAccount& account);
    // Asks for a file and writes the key map there, whole or not at all.
    void SaveKeyMap();
    // Every column as wide as its texts (the reference column up to a bound, beyond which a
    // text shows whole in its tooltip), and the dialog as wide as the table and tall enough for every row, within the screen
    // (80% of its height).
    void FitColumns();
    std::string logPath_;
    std::string keyMap_;   // the maps of the run shown, as CSV: a later run does not change them
    std::vector<NamedFile> runFiles_;
};

} // namespace kestrix::gui
