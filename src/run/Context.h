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

// Attachments a run opens beside its own (the streams of the journal block), told to whatever
// watches the run's attachments for a call that does not come back: from Add to Remove.
class AttachmentWatch {
public:
    virtual ~AttachmentWatch() = default;
    virtual void Add(db::Connection& connection) = 0;
    // Once it returns, the watch no longer touches the attachment.
    virtual void Remove(db::Connection& connection) = 0;
};

struct Context {
    RunState& state;
    const RunOptions& options;
    IdMaps& maps;
    // Pause of the post-transfer script after every statement.
    std::chrono::milliseconds postScriptPause{1000};
    // Where a table copy's log lines go: the run log, or, for a stream of the parallel journal
    // copy, its table's lines kept back to be written in the journal block's order.
    std::vector<std::string>* heldLog = nullptr;
    // Watches the attachments a routine opens of its own; none in a run without a watch.
    AttachmentWatch* attachmentWatch = nullptr;

    std::string LogPath() const { return options.appDir + kLogFile; }
    void LogLine(const std::string& line) const {
        if (heldLog) heldLog->push_back(line);
        else RunLog::Append(LogPath(), line);
    }
    std::string DataFile(const std::string& relative) const { return FindDataFile(options.appDir, relative); }
};

} // namespace kestrix
