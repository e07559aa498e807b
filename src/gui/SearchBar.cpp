#include "gui/SearchBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "db/Charset.h"
#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {

SearchBar::SearchBar(QWidget* parent, std::string caption, std::function<bool(const QString&)> find)
    : QWidget(parent), caption_(std::move(caption)), find_(std::move(find)) {
    Field = new QLineEdit(this);
    Field->setPlaceholderText(FromCp1251(texts::kLogSearch));
    Field->setClearButtonEnabled(true);
    Field->installEventFilter(this);
    Button = new QPushButton(FromCp1251(texts::kLogFind), this);
    Button->setAutoDefault(false);
    connect(Button, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(Field, &QLineEdit::textChanged, this, [this] {
        if (OnEdited) OnEdited();
    });
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Field, 1);
    layout->addWidget(Button);
}

bool SearchBar::FindNext() {
    const QString text = Field->text();
    if (text.isEmpty()) return false;
    if (find_(text)) return true;
    // The field holds UTF-8; the box Windows-1251.
    ShowBox(this, BoxKind::Information, caption_, texts::kLogNotFound + FileNameToCp1251(text.toStdString()));
    return false;
}

// Enter in the field searches, and goes no further: the dialog's default button would close it.
bool SearchBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Field && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == ::Qt::Key_Return || key == ::Qt::Key_Enter) {
            FindNext();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kestrix::gui
