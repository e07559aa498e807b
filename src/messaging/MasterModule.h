#pragma once
// The master data module: created first and destroyed last. It stands for the work lock's
// lifetime, watches the main thread's messages for a posted close request, and runs the
// shutdown sequence that ends with a one-second pause.
#include <chrono>
#include <functional>
#include <string>

namespace kestrix::messaging {

// Message numbers of the main thread's queue that the module tells apart.
inline constexpr unsigned kWmClose = 16;
inline constexpr unsigned kEventNotice = 1024 + 2001;   // database event listener's notice

// The text of the box shown for a posted close request.
inline constexpr const char* kWmCloseText = "Wm_Close";

class MasterModule {
public:
    // DataModuleCreate: the work lock exists from here on.
    MasterModule();
    // The shutdown sequence.
    ~MasterModule();
    MasterModule(const MasterModule&) = delete;
    MasterModule& operator=(const MasterModule&) = delete;

    // Sees every message the main thread takes from its queue, before dispatch. A close
    // request that arrived through the queue shows the "Wm_Close" box first. No message is
    // marked as handled: each is dispatched as usual afterwards.
    void aeMessage(unsigned message, bool posted);

    // Shows a modal box with an OK button; set by the front end. Without it nothing is shown.
    std::function<void(const std::string&)> ShowMessage;
    // The pause at the end of the shutdown sequence; a test that does not measure it sets none.
    std::chrono::milliseconds ShutdownPause{1000};

private:
    void DataModuleDestroy();
};

} // namespace kestrix::messaging
