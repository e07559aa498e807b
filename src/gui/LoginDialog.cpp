#include "gui/LoginDialog.h"

#include <cstddef>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QValidator>

#include "app/Logins.h"
#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

QString UserKey(LoginSide side) {
    return side == LoginSide::Source ? QStringLiteral("login/sourceUser") : QStringLiteral("login/destUser");
}

QSettings Settings() { return QSettings(QStringLiteral("kestrix"), QStringLiteral("kestrix")); }

// Takes no text whose UTF-8 is longer than the client library takes of a user name or a
// password: what would make it so is not typed or pasted in.
class LoginPartValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return static_cast<std::size_t>(input.toUtf8().size()) <= kMaxLoginBytes ? Acceptable : Invalid;
    }
};

} // namespace

LoginDialog::LoginDialog(QWidget* parent, LoginSide side, const std::string& refusal, const std::string& userTried)
    : QDialog(parent), side_(side) {
    setWindowTitle(FromCp1251(texts::kLoginCaption));
    auto* layout = new QFormLayout(this);
    Side = new QLabel(FromCp1251(side == LoginSide::Source ? texts::kSourceTitle : texts::kDestTitle), this);
    layout->addRow(Side);
    auto* reason = new QLabel(FromCp1251(texts::kLoginRefused + refusal), this);
    reason->setWordWrap(true);
    layout->addRow(reason);
    User = new QLineEdit(Settings().value(UserKey(side), QString::fromStdString(userTried)).toString(), this);
    User->setValidator(new LoginPartValidator(User));
    layout->addRow(FromCp1251(texts::kLoginUser), User);
    Password = new QLineEdit(this);
    Password->setEchoMode(QLineEdit::Password);
    Password->setValidator(new LoginPartValidator(Password));
    layout->addRow(FromCp1251(texts::kLoginPassword), Password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    OkButton = buttons->button(QDialogButtonBox::Ok);
    CancelButton = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
    (User->text().isEmpty() ? User : Password)->setFocus();
}

Login LoginDialog::Answer() const {
    Settings().setValue(UserKey(side_), User->text());
    return {User->text().toStdString(), Password->text().toStdString()};
}

std::optional<Login> AskLogin(QWidget* window, LoginSide side, const std::string& refusal,
                              const std::string& userTried) {
    std::optional<Login> answer;
    auto ask = [&] {
        LoginDialog dialog(window, side, refusal, userTried);
        if (dialog.exec() == QDialog::Accepted) answer = dialog.Answer();
    };
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        ask();
    else
        QMetaObject::invokeMethod(window, ask, ::Qt::BlockingQueuedConnection);
    return answer;
}

struct LoginAsker::Question {
    bool done = false;
    std::optional<Login> answer;
    QPointer<LoginDialog> dialog;   // the window's thread only
};

std::optional<Login> LoginAsker::Ask(LoginSide side, const std::string& refusal, const std::string& user) {
    auto question = std::make_shared<Question>();
    std::unique_lock lock(mutex_);
    if (closed_) return std::nullopt;
    waiting_ = question;
    // Posted to the application, not the window: a window deleted meanwhile is not the
    // receiver of the event that shows the dialog.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self = shared_from_this(), question, side, refusal, user] { self->Show(question, side, refusal, user); },
        ::Qt::QueuedConnection);
    answered_.wait(lock, [&] { return question->done; });
    return question->answer;
}

void LoginAsker::Show(const std::shared_ptr<Question>& question, LoginSide side, const std::string& refusal,
                      const std::string& user) {
    QPointer<LoginDialog> dialog;
    {
        std::lock_guard lock(mutex_);
        if (question->done) return;   // closed before it came up: window_ may be gone
        dialog = question->dialog = new LoginDialog(window_, side, refusal, user);
    }
    // The dialog goes with the window when the window is deleted while it is open.
    const bool accepted = dialog->exec() == QDialog::Accepted && dialog;
    std::optional<Login> answer;
    if (accepted) answer = dialog->Answer();
    delete dialog.data();
    std::unique_lock lock(mutex_);
    if (question->done) return;
    question->done = true;
    question->answer = answer;
    if (answer && Answered) {
        lock.unlock();   // the window's own code, run without the asker's lock
        Answered(side, *answer);
        lock.lock();
    }
    answered_.notify_all();
}

void LoginAsker::Close() {
    QPointer<LoginDialog> dialog;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        if (waiting_ && !waiting_->done) {
            waiting_->done = true;
            waiting_->answer.reset();
            dialog = waiting_->dialog;
        }
        waiting_.reset();
    }
    answered_.notify_all();
    if (dialog) dialog->reject();
}

} // namespace kestrix::gui
