#pragma once
// The run log: Windows-1251 text, CR LF line ends, created empty at start-up, then appended.
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>

namespace kestrix {

class RunLog {
public:
    // Creates the file empty, replacing an earlier one. Raises a file error.
    static void Create(const std::string& path);
    // Opens, writes one line, closes: the per-message pattern. Raises a file error.
    static void Append(const std::string& path, const std::string& line);

    // Opens the existing file for appending until destruction: the per-routine pattern.
    explicit RunLog(const std::string& path);
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Writes the text followed by CR LF and flushes it; a text with CR LF inside spans
    // several lines. A write or flush that fails (a full disk) raises the file error.
    void Line(const std::string& text);
    // Closes the file, raising the file error when the close fails; the destructor closes
    // a file still open without raising.
    void Close();

private:
    std::string path_;
    std::FILE* file_;
};

// "07.12.2026 9:05:03": the short date, a blank, the long time; the date alone at midnight.
std::string FormatTimestamp(const std::tm& local);
std::string Timestamp();

// The error that ends the run (a lost connection), logged once where it leaves the transfer
// sequence or a script: the timestamp, three blanks and the message. A log that cannot take
// it is passed over: the error itself is what the run reports.
void LogRunEndingError(const std::string& path, const std::exception& error) noexcept;

} // namespace kestrix
