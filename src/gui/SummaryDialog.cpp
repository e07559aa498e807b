#include "gui/SummaryDialog.h"

#include <algorithm>

#include <QDate>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "db/Charset.h"
#include "db/Strings.h"
#include "gui/Dialogs.h"
#include "gui/LogViewer.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

// The reference column's bound, and the room a cell takes beside its text.
constexpr int kReferenceColumn = 6;
constexpr int kReferenceColumnMax = 420;
constexpr int kCellPadding = 12;
constexpr int kMinWidth = 480;
constexpr int kMinHeight = 240;
constexpr int kMaxHeightPercent = 80;

const std::string& OutcomeText(std::optional<RunOutcome> outcome) {
    switch (outcome.value_or(RunOutcome::Failed)) {
    case RunOutcome::Finished: return texts::kOutcomeFinished;
    case RunOutcome::Interrupted: return texts::kOutcomeInterrupted;
    case RunOutcome::Failed: break;
    }
    return texts::kOutcomeFailed;
}

QTableWidgetItem* Cell(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(::Qt::ItemIsEnabled | ::Qt::ItemIsSelectable);
    if (number) item->setTextAlignment(::Qt::AlignRight | ::Qt::AlignVCenter);
    return item;
}

// "COLUMN: n, COLUMN: n", then the error that ended the table's copy, if one did.
QString UnmappedColumns(const TableAccount& t) {
    QStringList parts;
    for (const auto& [column, rows] : t.unmapped) parts << FromCp1251(column) + QStringLiteral(": ") + QString::number(rows);
    if (!t.error.empty()) parts << FromCp1251(texts::kTableFailed + OneLine(t.error));
    return parts.join(QStringLiteral(", "));
}

// The journal rows the run found already in the destination, then the account's verdict.
std::string VerdictText(const RunAccount& account) {
    std::string text;
    for (const PresentRows& rows : account.Present()) text += PresentRowsText(rows) + "\n";
    return text + AccountedText(account);
}

std::string VerifiedText(const RunAccount& account) {
    std::string tables;
    for (const TableAccount& t : account.Tables())
        if (t.verification && t.verification->differ > 0) tables += (tables.empty() ? "" : ", ") + t.table;
    std::string unread;
    for (const std::string& table : account.NotVerified()) unread += (unread.empty() ? texts::kNotVerified : ", ") + table;
    if (tables.empty()) return unread.empty() ? texts::kAllVerified : unread;
    return texts::kDifferences + tables + (unread.empty() ? "" : "\n" + unread);
}

} // namespace

SummaryDialog::SummaryDialog(QWidget* parent, const RunAccount& account, std::string logPath, const IdMaps& maps,
                             std::vector<NamedFile> runFiles)
    : QDialog(parent), logPath_(std::move(logPath)), keyMap_(KeyMapCsv(maps)), runFiles_(std::move(runFiles)) {
    setWindowTitle(FromCp1251(texts::kSummaryCaption + OutcomeText(account.Outcome())));
    auto* layout = new QVBoxLayout(this);
    Table = new QTableWidget(this);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    layout->addWidget(Table);
    const std::optional<db::DateTime>& from = account.EventsFrom();
    Journals = new QLabel(from ? FromCp1251(texts::kSummaryJournalsFrom) + QDate(from->year, from->month, from->day).toString(QStringLiteral("dd.MM.yyyy"))
                               : FromCp1251(texts::kSummaryNoJournals),
                          this);
    layout->addWidget(Journals);
    Verdict = new QLabel(this);
    layout->addWidget(Verdict);
    Fill(account);

    auto* buttons = new QDialogButtonBox(this);
    LogButton = buttons->addButton(FromCp1251(texts::kMenuLog), QDialogButtonBox::ActionRole);
    LogButton->setAutoDefault(false);
    connect(LogButton, &QPushButton::clicked, this, [this] { ShowLog(this, logPath_); });
    KeyMapButton = buttons->addButton(FromCp1251(texts::kSaveKeyMap), QDialogButtonBox::ActionRole);
    KeyMapButton->setAutoDefault(false);
    KeyMapButton->setEnabled(keyMap_.find('\n') + 1 < keyMap_.size());   // a line past the header
    connect(KeyMapButton, &QPushButton::clicked, this, [this] { SaveKeyMap(); });
    // Enter, the usual way to dismiss a dialog, closes it.
    CloseButton = buttons->addButton(FromCp1251(texts::kClose), QDialogButtonBox::RejectRole);
    CloseButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setAttribute(::Qt::WA_DeleteOnClose);
    FitColumns();
    show();
}

void SummaryDialog::Fill(const RunAccount& account) {
    QStringList headers;
    for (const std::string& header : texts::kSummaryHeaders) headers << FromCp1251(header);
    Table->setColumnCount(headers.size());
    Table->setHorizontalHeaderLabels(headers);
    const auto& tables = account.Tables();
    Table->setRowCount(static_cast<int>(tables.size()));
    for (int row = 0; row < Table->rowCount(); ++row) {
        const TableAccount& t = tables[row];
        Table->setItem(row, 0, Cell(FromCp1251(t.table), false));
        Table->setItem(row, 1, Cell(QString::number(t.Read()), true));
        Table->setItem(row, 2, Cell(QString::number(t.written), true));
        Table->setItem(row, 3, Cell(QString::number(t.refused), true));
        Table->setItem(row, 4, Cell(QString::number(t.seconds, 'f', 2), true));
        Table->setItem(row, 5, Cell(QString::number(t.Unmapped()), true));
        Table->setItem(row, kReferenceColumn, Cell(UnmappedColumns(t), false));
    }
    FillVerification(account);
    const bool good = account.NotAccounted().empty() && account.Differ() == 0 && account.Left().empty();
    std::string verdict = VerdictText(account);
    if (account.Verified()) verdict += "\n" + VerifiedText(account);
    for (const LeftSwitch& left : account.Left()) verdict += "\n" + LeftText(left);
    Verdict->setText(FromCp1251(verdict));
    QPalette palette = Verdict->palette();
    palette.setColor(QPalette::WindowText, good ? QColor(0x00, 0x80, 0x00) : QColor(0xC0, 0, 0));
    Verdict->setPalette(palette);
}

// After a read-back, two more columns: the rows found as copied and the rows that differ.
void SummaryDialog::FillVerification(const RunAccount& account) {
    if (!account.Verified()) return;
    const int first = Table->columnCount();
    Table->setColumnCount(first + 2);
    for (int i = 0; i < 2; ++i) Table->setHorizontalHeaderItem(first + i, new QTableWidgetItem(FromCp1251(texts::kVerifyHeaders[i])));
    const auto& tables = account.Tables();
    for (int row = 0; row < Table->rowCount(); ++row) {
        const std::optional<TableVerification>& v = tables[row].verification;
        Table->setItem(row, first, Cell(v ? QString::number(v->verified) : QString(), true));
        Table->setItem(row, first + 1, Cell(v ? QString::number(v->differ) : QString(), true));
    }
}

void SummaryDialog::SaveKeyMap() {
    const std::optional<QString> file = SaveFile(this, texts::kKeyMapDialogTitle, texts::kKeyMapDialogFilter);
    if (!file) return;
    const std::string path = file->toStdString();
    try {
        if (OutputClash({{"key map", path}}, runFiles_)) {
            ShowBox(this, BoxKind::Error, texts::kErrorCaption, texts::kKeyMapClash + ToCp1251(path));
            return;
        }
        WriteFileWhole(path, keyMap_);
    } catch (const std::exception& e) {
        ShowBox(this, BoxKind::Error, texts::kErrorCaption, e.what());
    }
}

void SummaryDialog::FitColumns() {
    Table->setWordWrap(false);
    Table->resizeColumnsToContents();
    const int headerWidth = Table->horizontalHeader()->sectionSizeHint(kReferenceColumn);
    const int bound = std::max(kReferenceColumnMax, headerWidth);
    Table->setColumnWidth(kReferenceColumn, std::min(Table->columnWidth(kReferenceColumn), bound));
    const QFontMetrics metrics(Table->font());
    for (int row = 0; row < Table->rowCount(); ++row) {
        QTableWidgetItem* item = Table->item(row, kReferenceColumn);
        if (metrics.horizontalAdvance(item->text()) + kCellPadding > Table->columnWidth(kReferenceColumn))
            item->setToolTip(item->text());
    }

    int tableWidth = 2 * Table->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int column = 0; column < Table->columnCount(); ++column) tableWidth += Table->columnWidth(column);
    const QMargins margins = layout()->contentsMargins();
    int width = std::max(kMinWidth, tableWidth + margins.left() + margins.right());
    // Tall enough for every table, within a share of the screen's height.
    int tableHeight = 2 * Table->frameWidth() + Table->horizontalHeader()->sizeHint().height();
    for (int row = 0; row < Table->rowCount(); ++row) tableHeight += Table->rowHeight(row);
    int height = layout()->sizeHint().height() - Table->sizeHint().height() + tableHeight;
    if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen()) {
        const QRect area = screen->availableGeometry();
        if (width > area.width()) height += style()->pixelMetric(QStyle::PM_ScrollBarExtent);   // scrolled sideways
        width = std::min(width, area.width());
        height = std::min(height, area.height() * kMaxHeightPercent / 100);
    }
    resize(width, std::max(height, kMinHeight));
}

} // namespace kestrix::gui
