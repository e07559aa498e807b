#include "app/StartupChecks.h"

#include <filesystem>

#include "db/Strings.h"
#include "run/DataFiles.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "run/TextFile.h"

namespace kestrix {

std::string FilePath(const std::string& path) {
    std::string trimmed = TrimBlanksAndControls(path);
    std::size_t last = trimmed.find_last_of('/');
    return last == std::string::npos ? std::string() : trimmed.substr(0, last + 1);
}

bool FolderHoldsTableList(const std::string& dir) {
    std::error_code error;
    return std::filesystem::is_regular_file(FindDataFile(AppDirPath(dir), kTableListFile), error);
}

std::optional<StartupFailure> CheckStartup(RunState& state, RunOptions& options, const std::string& appDir) {
    options.appDir = AppDirPath(appDir);
    state.PumpMessages();

    try {
        RunLog::Create(options.appDir + kLogFile);
    } catch (const std::exception&) {
        return StartupFailure::RunLog;
    }
    try {
        options.tableListLines =
            static_cast<int>(ReadTextLines(FindDataFile(options.appDir, kTableListFile)).size());
    } catch (const std::exception&) {
        return StartupFailure::TableList;
    }
    try {
        ReadTextLines(FindDataFile(options.appDir, "GENERATOR.txt"));
    } catch (const std::exception&) {
        return StartupFailure::GeneratorList;
    }
    return std::nullopt;
}

const std::string& StartupFailureText(StartupFailure failure) {
    switch (failure) {
    case StartupFailure::RunLog: return texts::kLogCreateFailed;
    case StartupFailure::TableList: return texts::kTableListMissing;
    case StartupFailure::GeneratorList: break;
    }
    return texts::kGeneratorListMissing;
}

std::optional<std::string> RunStartupChecks(RunState& state, RunOptions& options, const std::string& appDir) {
    if (auto failure = CheckStartup(state, options, appDir)) return StartupFailureText(*failure);
    return std::nullopt;
}

} // namespace kestrix
