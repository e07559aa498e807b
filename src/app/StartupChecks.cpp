#include "app/StartupChecks.h"

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

std::optional<StartupFailure> CheckStartup(RunState& state, const std::string& appDir) {
    state.AppDir = AppDirPath(appDir);
    state.PumpMessages();

    try {
        RunLog::Create(state.AppDir + kLogFile);
    } catch (const std::exception&) {
        return StartupFailure::RunLog;
    }
    try {
        state.TableListLines =
            static_cast<int>(ReadTextLines(FindDataFile(state.AppDir, kTableListFile)).size());
    } catch (const std::exception&) {
        return StartupFailure::TableList;
    }
    try {
        ReadTextLines(FindDataFile(state.AppDir, "GENERATOR.txt"));
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

std::optional<std::string> RunStartupChecks(RunState& state, const std::string& appDir) {
    if (auto failure = CheckStartup(state, appDir)) return StartupFailureText(*failure);
    return std::nullopt;
}

} // namespace kestrix
