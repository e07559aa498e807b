#pragma once
// The user and password of one side, asked for when its server refuses the login: the side
// named, the server's text, the user name remembered between starts, the password never.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
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
    // refusal: the server's text, Windows-1251; userTried: the user refused, shown where no
    // user name is remembered for the side.
    LoginDialog(QWidget* parent, LoginSide side, const std::string& refusal, const std::string& userTried = {});

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
std::optional<Login> AskLogin(QWidget* window, LoginSide side, const std::string& refusal,
                              const std::string& userTried = {});

// Asks for logins from a run's thread in a modal dialog on the window's thread, like AskLogin,
// but closable: Close answers Cancel to the question waiting (closing its dialog) and to every
// later one, so that a window going away never leaves a run's thread waiting for it.
class LoginAsker : public std::enable_shared_from_this<LoginAsker> {
public:
    explicit LoginAsker(QWidget* window) : window_(window) {}

    // From a run's thread; user: the user the server refused, shown where none is remembered.
    std::optional<Login> Ask(LoginSide side, const std::string& refusal, const std::string& user);
    // From the window's thread, before the window goes or stops waiting for the run.
    void Close();
    // Called on the window's thread with an accepted answer, unless closed by then.
    std::function<void(LoginSide, const Login&)> Answered;

private:
    struct Question;
    void Show(const std::shared_ptr<Question>& question, LoginSide side, const std::string& refusal,
              const std::string& user);

    QWidget* window_;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool closed_ = false;
    std::shared_ptr<Question> waiting_;
};

} // namespace kestrix::gui
