#include "messaging/MasterModule.h"

#include <thread>

#include "db/Work.h"

namespace kestrix::messaging {

MasterModule::MasterModule() {
    // The lock is a function-static of the access layer: touching it here creates it before
    // any data module or window exists.
    db::WorkLock();
}

MasterModule::~MasterModule() {
    try {
        DataModuleDestroy();
    } catch (const std::exception&) {
    }
}

void MasterModule::aeMessage(unsigned message, bool posted) {
    // kEventNotice would requeue the event listener; no event name is ever registered and
    // the listener is never started, so the notice never arrives and is not acted on.
    if (message == kWmClose && posted && ShowMessage) ShowMessage(kWmCloseText);
}

void MasterModule::DataModuleDestroy() {
    // The release call, the listener wait, the commit of the master connection's
    // transactions and its disconnection have nothing to do: the master connection is never
    // opened and no registration is ever made.
    std::this_thread::sleep_for(ShutdownPause);
    // The work lock itself lives until the process ends.
}

} // namespace kestrix::messaging
