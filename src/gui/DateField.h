#pragma once
// The start date field: a date typed as dd.mm.yyyy, with or without the dots, picked from the
// calendar or stepped with the arrow keys; empty stands for no date. A text that is no date
// (yet), such as 31.02.2026, stays as typed and shows in red.
#include <functional>

#include <QDateEdit>

namespace kestrix::gui {

// What a text of the field holds.
struct TypedDate {
    enum class Kind { Empty, Date, Incomplete, Impossible, Refused };
    Kind kind;
    QDate date;   // for Date
};
TypedDate ReadTypedDate(const QString& text);

class DateField : public QDateEdit {
public:
    // The value that stands for an empty field: day 0 of the program's dates.
    static const QDate kNoDate;

    explicit DateField(QWidget* parent = nullptr);

    // Empties the field, whatever its text.
    void SetEmpty();
    // Whether the text is a date or empty.
    bool HasValidText() const;
    // Called whenever HasValidText may have changed.
    std::function<void()> OnValidityChanged;

    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    void stepBy(int steps) override;

protected:
    QDateTime dateTimeFromText(const QString& text) const override;
    QString textFromDateTime(const QDateTime& value) const override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool focusNextPrevChild(bool next) override;

private:
    void ShowValidity();
};

} // namespace kestrix::gui
