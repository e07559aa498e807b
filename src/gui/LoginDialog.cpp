#include "gui/LoginDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QThread>

#include "gui/Dialogs.h"
#include "run/Texts.h"

namespace kestrix::gui {
namespace {

QString UserKey(LoginSide side) {
    return side == LoginSide::Source ? QStringLiteral("login/sourceUser") : QStringLiteral("login/destUser");
}

QSettings Settings() { return QSettings(QStringLiteral("kestrix"), QStringLiteral("kestrix")); }

} // namespace

LoginDialog::LoginDialog(QWidget* parent, LoginSide side, const std::string& refusal) : QDialog(parent), side_(side) {
    setWindowTitle(Qt(texts::kLoginCaption));
    auto* layout = new QFormLayout(this);
    Side = new QLabel(Qt(side == LoginSide::Source ? texts::kSourceTitle : texts::kDestTitle), this);
    layout->addRow(Side);
    auto* reason = new QLabel(Qt(texts::kLoginRefused + refusal), this);
    reason->setWordWrap(true);
    layout->addRow(reason);
    User = new QLineEdit(Settings().value(UserKey(side)).toString(), this);
    layout->addRow(Qt(texts::kLoginUser), User);
    Password = new QLineEdit(this);
    Password->setEchoMode(QLineEdit::Password);
    layout->addRow(Qt(texts::kLoginPassword), Password);
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

std::optional<Login> AskLogin(QWidget* window, LoginSide side, const std::string& refusal) {
    std::optional<Login> answer;
    auto ask = [&] {
        LoginDialog dialog(window, side, refusal);
        if (dialog.exec() == QDialog::Accepted) answer = dialog.Answer();
    };
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        ask();
    else
        QMetaObject::invokeMethod(window, ask, ::Qt::BlockingQueuedConnection);
    return answer;
}

} // namespace kestrix::gui
