#pragma once
// Feeds the master data module's message hook from the application's event stream.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "messaging/MasterModule.h"

namespace kestrix::gui {

// Watches every event of the application. A close request that reaches the main window
// through the event queue (posted by another part of the program or from outside) goes to
// the master data module, which shows "Wm_Close"; then the window closes as usual. The
// window system's own close commands (close box, system menu) and the window's own closing
// do not pass the hook.
class MasterEventFilter : public QObject {
public:
    explicit MasterEventFilter(messaging::MasterModule& master) : master_(master) {}
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    messaging::MasterModule& master_;
    QPointer<QWidget> mainWindow_;
};

// Closes the window as its own command, without the "Wm_Close" box.
void CloseItself(QWidget* window);

} // namespace kestrix::gui
