#pragma once
// The user and password of one side, asked for when its server refuses the login: the side
// named, the server's text, the user name remembered between starts, the password never.
#include <optional>
#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrix::gui {

enum class LoginSide { Source, Destination };

struct Login {
    std::string user;       // as typed, UTF-8
    std::string password;   // as typed, UTF-8; kept nowhere else
};

class LoginDialog : public QDialog {
public:
    // refusal: the server's text, Windows-1251.
    LoginDialog(QWidget* parent, LoginSide side, const std::string& refusal);

    // The answer once accepted; the user name is then remembered for the side.
    Login Answer() const;

    QLabel* Side;
    QLineEdit* User;
    QLineEdit* Password;
    QPushButton* OkButton;
    QPushButton* CancelButton;

private:
    LoginSide side_;
};

// Asks in a modal dialog on the window thread, from any thread: a run's thread waits for the
// answer meanwhile. Nothing when the operator cancels.
std::optional<Login> AskLogin(QWidget* window, LoginSide side, const std::string& refusal);

} // namespace kestrix::gui
