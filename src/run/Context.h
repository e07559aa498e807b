#pragma once
// What every engine routine reads besides its arguments: the run state and the maps.
#include <chrono>
#include <string>

#include "run/DataFiles.h"
#include "run/RunState.h"
#include "run/IdMaps.h"

namespace kestrix {

struct Context {
    RunState& state;
    IdMaps& maps;
    // Pause of the post-transfer script after every statement.
    std::chrono::milliseconds postScriptPause{1000};

    std::string LogPath() const { return state.AppDir + kLogFile; }
    std::string DataFile(const std::string& relative) const { return FindDataFile(state.AppDir, relative); }
};

} // namespace kestrix
