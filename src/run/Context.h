#pragma once
// What every engine routine reads besides its arguments: the run's options, its state and the maps.
#include <chrono>
#include <string>
#include <vector>

#include "run/DataFiles.h"
#include "run/RunOptions.h"
#include "run/RunState.h"
#include "run/IdMaps.h"
#include "run/RunLog.h"

namespace kestrix {

struct Context {
    RunState& state;
    const RunOptions& options;
    IdMaps& maps;
    // Pause of the post-transfer script after every statement.
    std::chrono::milliseconds postScriptPause{1000};
    // Where a table copy's log lines go: the run log, or, for a stream of the parallel journal
    // copy, its table's lines kept back to be written in the journal block's order.
    std::vector<std::string>* heldLog = nullptr;

    std::string LogPath() const { return options.appDir + kLogFile; }
    void LogLine(const std::string& line) const {
        if (heldLog) heldLog->push_back(line);
        else RunLog::Append(LogPath(), line);
    }
    std::string DataFile(const std::string& relative) const { return FindDataFile(options.appDir, relative); }
};

} // namespace kestrix
