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
    // DataModuleDestroy, unless it already ran.
    ~MasterModule();
    MasterModule(const MasterModule&) = delete;
    MasterModule& operator=(const MasterModule&) = delete;

    // Sees every message the main thread takes from its queue, before dispatch. A close
    // request that arrived through the queue shows the "Wm_Close" box first. Never marks a
    // message as handled: the result is always false, the message is dispatched as usual.
    bool aeMessage(unsigned message, bool posted);

    // The shutdown sequence; runs once, later calls do nothing.
    void DataModuleDestroy();
    bool Destroyed() const { return destroyed_; }

    // Shows a modal box with an OK button; set by the front end. Without it nothing is shown.
    std::function<void(const std::string&)> ShowMessage;
    // The pause at the end of the shutdown sequence, and how it is taken (tests record it).
    std::chrono::milliseconds ShutdownPause{1000};
    std::function<void(std::chrono::milliseconds)> Sleep;

private:
    bool destroyed_ = false;
};

} // namespace kestrix::messaging
