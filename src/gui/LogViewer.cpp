#include "gui/LogViewer.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "db/Charset.h"
#include "db/Error.h"
#include "db/Strings.h"
#include "gui/Dialogs.h"
#include "gui/SearchBar.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

// How far a page start looks for the next line start before it cuts a line.
constexpr qint64 kLookAhead = 64 * 1024;
// The piece of the file a search holds at a time.
constexpr qint64 kSearchChunk = 1 << 20;

[[noreturn]] void Unreadable(const std::string& path, const QFile& file) {
    throw Error(Error::Kind::File, 0,
                "Cannot open file \"" + FileNameToCp1251(path) + "\". " + file.errorString().toStdString());
}

} // namespace

LogPages::LogPages(std::string path, qint64 pageBytes) : path_(std::move(path)), pageBytes_(pageBytes) {}

qint64 LogPages::Size() const { return QFileInfo(QString::fromStdString(path_)).size(); }

int LogPages::Count() const { return static_cast<int>(std::max<qint64>(1, (Size() + pageBytes_ - 1) / pageBytes_)); }

std::string LogPages::Read(qint64 from, qint64 to) const {
    QFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from)) Unreadable(path_, file);
    const QByteArray bytes = file.read(std::max<qint64>(0, to - from));
    if (file.error() != QFileDevice::NoError) Unreadable(path_, file);
    return bytes.toStdString();
}

qint64 LogPages::Boundary(qint64 offset) const {
    const qint64 size = Size();
    if (offset <= 0 || offset >= size) return std::clamp<qint64>(offset, 0, size);
    // The byte before offset decides: a line start follows the first line feed from there.
    const std::string ahead = Read(offset - 1, std::min(size, offset - 1 + kLookAhead));
    const std::size_t feed = ahead.find('\n');
    return feed == std::string::npos ? offset : offset + static_cast<qint64>(feed);
}

std::pair<qint64, qint64> LogPages::Range(int page) const {
    return {Boundary(page * pageBytes_), Boundary((page + 1) * pageBytes_)};
}

int LogPages::PageOf(qint64 offset) const {
    int page = static_cast<int>(offset / pageBytes_);
    return offset < Boundary(page * pageBytes_) ? page - 1 : page;
}

std::optional<qint64> LogPages::FindIn(const std::string& upperNeedle, qint64 from, qint64 to) const {
    const qint64 overlap = static_cast<qint64>(upperNeedle.size()) - 1;
    for (qint64 at = from; at < to; at += kSearchChunk) {
        const std::string chunk = UpperCp1251(Read(at, std::min(to + overlap, at + kSearchChunk + overlap)));
        const std::size_t hit = chunk.find(upperNeedle);
        if (hit != std::string::npos && at + static_cast<qint64>(hit) < to) return at + static_cast<qint64>(hit);
    }
    return std::nullopt;
}

std::optional<qint64> LogPages::Find(const std::string& needle, qint64 from) const {
    if (needle.empty()) return std::nullopt;
    const std::string upper = UpperCp1251(needle);
    const qint64 size = Size();
    if (std::optional<qint64> hit = FindIn(upper, from, size)) return hit;
    return FindIn(upper, 0, std::min(from, size));
}

LogViewer::LogViewer(QWidget* parent, const std::string& path, qint64 pageBytes)
    : QDialog(parent), pages_(path, pageBytes) {
    setWindowTitle(FromCp1251(texts::kLogCaption));
    Text = new QPlainTextEdit(this);
    Text->setReadOnly(true);
    Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto button = [this](QStyle::StandardPixmap icon, const std::string& tip) {
        auto* b = new QPushButton(style()->standardIcon(icon), QString(), this);
        b->setToolTip(FromCp1251(tip));
        b->setAutoDefault(false);
        return b;
    };
    FirstButton = button(QStyle::SP_MediaSkipBackward, texts::kLogFirstPage);
    PreviousButton = button(QStyle::SP_MediaSeekBackward, texts::kLogPreviousPage);
    NextButton = button(QStyle::SP_MediaSeekForward, texts::kLogNextPage);
    LastButton = button(QStyle::SP_MediaSkipForward, texts::kLogLastPage);
    PageLabel = new QLabel(this);
    Search = new SearchBar(this, texts::kLogCaption, [this](const QString& text) { return Find(text); });
    Search->OnEdited = [this] { lastFound_.reset(); };
    SearchField = Search->Field;
    FindButton = Search->Button;
    connect(FirstButton, &QPushButton::clicked, this, [this] { ShowPage(0); });
    connect(PreviousButton, &QPushButton::clicked, this, [this] { ShowPage(page_ - 1); });
    connect(NextButton, &QPushButton::clicked, this, [this] { ShowPage(page_ + 1); });
    connect(LastButton, &QPushButton::clicked, this, [this] { ShowPage(pages_.Count() - 1); });

    auto* bar = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{FirstButton, PreviousButton, PageLabel, NextButton, LastButton})
        bar->addWidget(w);
    bar->addStretch();
    bar->addWidget(Search, 1);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(FromCp1251(texts::kClose), QDialogButtonBox::RejectRole)->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(Text);
    layout->addWidget(buttons);

    // The end of the log first: the lines of the run just ended.
    ShowPage(pages_.Count() - 1);
    Text->moveCursor(QTextCursor::End);
    setAttribute(::Qt::WA_DeleteOnClose);
    resize(760, 520);
}

void LogViewer::ShowPage(int page) {
    const int count = pages_.Count();
    page_ = std::clamp(page, 0, count - 1);
    range_ = pages_.Range(page_);
    bytes_ = pages_.Read(range_.first, range_.second);
    QString text = FromCp1251(bytes_);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Text->setPlainText(text);
    PageLabel->setText(FromCp1251(texts::kLogPage) + QString::number(page_ + 1) + FromCp1251(texts::kLogPageOf) + QString::number(count));
    FirstButton->setEnabled(page_ > 0);
    PreviousButton->setEnabled(page_ > 0);
    NextButton->setEnabled(page_ + 1 < count);
    LastButton->setEnabled(page_ + 1 < count);
}

bool LogViewer::FindNext() { return Search->FindNext(); }

bool LogViewer::Find(const QString& text) {
    // The field holds UTF-8; the log Windows-1251.
    const std::string needle = FileNameToCp1251(text.toStdString());
    const qint64 from = lastFound_ ? *lastFound_ + 1 : range_.first;
    const std::optional<qint64> hit = pages_.Find(needle, from);
    if (!hit) return false;
    lastFound_ = hit;
    if (*hit < range_.first || *hit >= range_.second) ShowPage(pages_.PageOf(*hit));
    Select(*hit - range_.first, static_cast<qint64>(needle.size()));
    return true;
}

// Offsets within the page's bytes; the text shown has one character less per CR LF.
void LogViewer::Select(qint64 offset, qint64 length) {
    auto shown = [this](qint64 at) {
        qint64 crlf = 0;
        for (std::size_t i = bytes_.find("\r\n"); i != std::string::npos && static_cast<qint64>(i) < at;
             i = bytes_.find("\r\n", i + 2))
            ++crlf;
        return static_cast<int>(at - crlf);
    };
    QTextCursor cursor(Text->document());
    cursor.setPosition(shown(offset));
    cursor.setPosition(shown(offset + length), QTextCursor::KeepAnchor);
    Text->setTextCursor(cursor);
    Text->ensureCursorVisible();
}

void ShowLog(QWidget* parent, const std::string& path) {
    LogViewer* viewer = nullptr;
    try {
        if (!QFile::exists(QString::fromStdString(path))) {
            ShowBox(parent, BoxKind::Error, texts::kErrorCaption, texts::kLogMissing + FileNameToCp1251(path));
            return;
        }
        viewer = new LogViewer(parent, path);
    } catch (const std::exception& e) {
        // The reason a log that is there cannot be read.
        ShowBox(parent, BoxKind::Error, texts::kErrorCaption, e.what());
        return;
    }
    viewer->show();
}

} // namespace kestrix::gui
