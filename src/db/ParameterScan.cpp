#include "db/ParameterScan.h"

#include "db/Error.h"

namespace kestrix::db {

namespace {

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// The scan behind ScanParameters, one character at a time; a step may take the next one too.
class ParameterScan {
public:
    ParameterScan(const std::string& text, std::vector<std::string>& names) : text_(text), names_(names) {
        out_.reserve(text.size());
    }
    std::string Run();

private:
    enum class State { Normal, Comment, Quote, Parameter };

    bool NextIsEnd() const { return i_ + 1 >= text_.size(); }
    char Next() const { return NextIsEnd() ? '\0' : text_[i_ + 1]; }
    void Step(char c);
    // Copies c and the character after it, and moves past both.
    void CopyPair(char c) {
        out_ += c;
        out_ += text_[++i_];
    }
    void InText(char c);
    void InComment(char c);
    void InQuote(char c);
    void InParameter(char c);
    void EndName();

    const std::string& text_;
    std::vector<std::string>& names_;
    std::string out_;
    std::size_t i_ = 0;
    State state_ = State::Normal;
    char quote_ = 0;
    bool quotedName_ = false;
    std::string name_;
};

std::string ParameterScan::Run() {
    for (i_ = 0; i_ < text_.size(); ++i_) Step(text_[i_]);
    // A quoted name that never closes would leave a marker without a name.
    if (state_ == State::Parameter)
        throw ClientError(ClientCode::SqlParseError, quotedName_ ? "EOF in string detected" : "Parameter name expected");
    return out_;
}

void ParameterScan::Step(char c) {
    switch (state_) {
    case State::Normal: InText(c); break;
    case State::Comment: InComment(c); break;
    case State::Quote: InQuote(c); break;
    case State::Parameter: InParameter(c); break;
    }
}

void ParameterScan::InText(char c) {
    if (c == '\'' || c == '"') {
        quote_ = c;
        state_ = State::Quote;
        out_ += c;
    } else if (c == ':' || c == '?') {
        out_ += '?';
        name_.clear();
        quotedName_ = false;
        state_ = State::Parameter;
    } else if (c == '/' && Next() == '*') {
        CopyPair(c);
        state_ = State::Comment;
    } else {
        out_ += c;
    }
}

void ParameterScan::InComment(char c) {
    if (NextIsEnd()) throw ClientError(ClientCode::SqlParseError, "EOF in comment detected");
    if (c != '*' || Next() != '/') {
        out_ += c;
        return;
    }
    CopyPair(c);
    state_ = State::Normal;
}

void ParameterScan::InQuote(char c) {
    if (NextIsEnd()) throw ClientError(ClientCode::SqlParseError, "EOF in string detected");
    if (c == quote_ && Next() == quote_) {
        CopyPair(c);   // a doubled quote stays inside the string
        return;
    }
    out_ += c;
    if (c == quote_) state_ = State::Normal;
}

void ParameterScan::InParameter(char c) {
    if (quotedName_) {
        if (c == '"') EndName();
        else name_ += c;
        return;
    }
    if (name_.empty() && c == '"') {
        quotedName_ = true;
        return;
    }
    if (!IsNameChar(c)) throw ClientError(ClientCode::SqlParseError, "Parameter name expected");
    name_ += c;
    if (!IsNameChar(Next())) EndName();
}

void ParameterScan::EndName() {
    names_.push_back(name_);
    state_ = State::Normal;
    // The character after the name is copied without a look.
    if (!NextIsEnd()) out_ += text_[++i_];
}

} // namespace

std::string ScanParameters(const std::string& text, std::vector<std::string>& names) {
    return ParameterScan(text, names).Run();
}

} // namespace kestrix::db
