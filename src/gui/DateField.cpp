#include "gui/DateField.h"

#include <functional>

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>

namespace kestrix::gui {

const QDate DateField::kNoDate(1899, 12, 30);

namespace {

const QString kFormat = QStringLiteral("dd.MM.yyyy");

} // namespace

TypedDate ReadTypedDate(const QString& text) {
    using Kind = TypedDate::Kind;
    const QString typed = text.trimmed();
    if (typed.isEmpty()) return {Kind::Empty, {}};
    // Day, month and year with dots, or eight digits without them.
    static const QRegularExpression whole(QStringLiteral(R"(^(\d{1,2})\.(\d{1,2})\.(\d{4})$|^(\d{2})(\d{2})(\d{4})$)"));
    const QRegularExpressionMatch match = whole.match(typed);
    if (match.hasMatch()) {
        const int first = match.captured(1).isEmpty() ? 4 : 1;
        const QDate date(match.captured(first + 2).toInt(), match.captured(first + 1).toInt(), match.captured(first).toInt());
        return date.isValid() && date > DateField::kNoDate ? TypedDate{Kind::Date, date} : TypedDate{Kind::Impossible, {}};
    }
    static const QRegularExpression begun(QStringLiteral(R"(^\d{1,2}(\.(\d{1,2}(\.\d{0,4})?)?)?$|^\d{1,8}$)"));
    return {begun.match(typed).hasMatch() ? Kind::Incomplete : Kind::Refused, {}};
}

DateField::DateField(QWidget* parent) : QDateEdit(parent) {
    setCalendarPopup(true);
    setDisplayFormat(kFormat);
    // Qt has no empty date field: the earliest date stands for "no date" and shows blank.
    setMinimumDate(kNoDate);
    setSpecialValueText(QStringLiteral(" "));
    setDate(kNoDate);
    // Typing changes the text; the calendar, the arrows and setDate change the date, and the
    // text with it without telling.
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { ShowValidity(); });
    connect(this, &QDateEdit::dateChanged, this, [this] { ShowValidity(); });
    // Qt's date edit follows the cursor from section to section and, when it leaves one whose
    // text is no date yet, puts the last date back: a date typed over the selected text was
    // lost at its first key. It follows the cursor here only while the text is a date or empty,
    // which is all the arrow keys need to step the section at the cursor.
    disconnect(lineEdit(), SIGNAL(cursorPositionChanged(int,int)), this, SLOT(_q_editorCursorPositionChanged(int,int)));
    connect(lineEdit(), &QLineEdit::cursorPositionChanged, this, [this](int from, int to) {
        if (HasValidText())
            QMetaObject::invokeMethod(this, "_q_editorCursorPositionChanged", ::Qt::DirectConnection, Q_ARG(int, from),
                                      Q_ARG(int, to));
    });
}

void DateField::SetEmpty() {
    setDate(kNoDate);
    lineEdit()->setText(specialValueText());
    ShowValidity();
}

bool DateField::HasValidText() const {
    const TypedDate::Kind kind = ReadTypedDate(text()).kind;
    return kind == TypedDate::Kind::Empty || kind == TypedDate::Kind::Date;
}

QValidator::State DateField::validate(QString& input, int& /*pos*/) const {
    switch (ReadTypedDate(input).kind) {
    case TypedDate::Kind::Empty:
    case TypedDate::Kind::Date: return QValidator::Acceptable;
    case TypedDate::Kind::Incomplete:
    case TypedDate::Kind::Impossible: return QValidator::Intermediate;
    case TypedDate::Kind::Refused: break;
    }
    return QValidator::Invalid;
}

// A text that is no date stays as typed, so that it is seen and corrected.
void DateField::fixup(QString& /*input*/) const {}

QDateTime DateField::dateTimeFromText(const QString& text) const {
    const TypedDate typed = ReadTypedDate(text);
    const QDate date = typed.kind == TypedDate::Kind::Date ? typed.date : typed.kind == TypedDate::Kind::Empty ? kNoDate : this->date();
    return QDateTime(date, QTime(0, 0));
}

QString DateField::textFromDateTime(const QDateTime& value) const {
    return value.date() == kNoDate ? QString() : value.date().toString(kFormat);
}

void DateField::stepBy(int steps) {
    // From an empty field the arrows start at today.
    if (date() == kNoDate) {
        setDate(QDate::currentDate());
        return;
    }
    QDateEdit::stepBy(steps);
}

void DateField::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case ::Qt::Key_Up:
    case ::Qt::Key_Down:
    case ::Qt::Key_PageUp:
    case ::Qt::Key_PageDown: QDateEdit::keyPressEvent(e); return;   // a step of the section at the cursor
    case ::Qt::Key_Return:
    case ::Qt::Key_Enter:
        if (!HasValidText()) return;   // kept as typed
        break;
    default: break;
    }
    // Typing is plain text editing, checked as a whole by validate, not section by section.
    QAbstractSpinBox::keyPressEvent(e);
}

void DateField::focusOutEvent(QFocusEvent* e) {
    // Leaving would put the last date back in place of a text that is no date.
    const QString typed = lineEdit()->text();
    const bool keep = !HasValidText();
    QDateEdit::focusOutEvent(e);
    if (keep && lineEdit()->text() != typed) lineEdit()->setText(typed);
}

// Tab leaves the field: it does not walk through its day, month and year.
bool DateField::focusNextPrevChild(bool next) { return QWidget::focusNextPrevChild(next); }

void DateField::ShowValidity() {
    QPalette palette = lineEdit()->palette();
    const QColor text = HasValidText() ? QPalette().color(QPalette::Text) : QColor(::Qt::red);
    if (palette.color(QPalette::Text) != text) {
        palette.setColor(QPalette::Text, text);
        lineEdit()->setPalette(palette);
    }
    if (OnValidityChanged) OnValidityChanged();
}

} // namespace kestrix::gui
