#pragma once
// The viewers' search: a field with its Find button. Enter in the field or the button looks for
// the field's text after the last occurrence found, going on from the start at the end; where
// to look is the viewer's, the box that tells of no occurrence is the bar's.
#include <functional>
#include <string>

#include <QWidget>

class QLineEdit;
class QPushButton;

namespace kestrix::gui {

class SearchBar : public QWidget {
public:
    // find: selects the next occurrence of the text in the viewer; false when there is none.
    // caption: of the box that says so, Windows-1251.
    SearchBar(QWidget* parent, std::string caption, std::function<bool(const QString&)> find);

    // The next occurrence of the field's text; false, with a message, when there is none.
    bool FindNext();
    // Called when the field's text changes: the viewer's next search starts afresh.
    std::function<void()> OnEdited;

    QLineEdit* Field;
    QPushButton* Button;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string caption_;
    std::function<bool(const QString&)> find_;
};

} // namespace kestrix::gui
