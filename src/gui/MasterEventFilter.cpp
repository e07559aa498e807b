#include "gui/MasterEventFilter.h"

#include <QEvent>
#include <QWindow>

namespace kestrix::gui {
namespace {

bool g_closingItself = false;

} // namespace

void CloseItself(QWidget* window) {
    bool outer = g_closingItself;
    g_closingItself = true;
    window->close();
    g_closingItself = outer;
}

bool MasterEventFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Close || !mainWindow_ || g_closingItself || event->spontaneous())
        return false;
    if (watched != mainWindow_ && watched != mainWindow_->windowHandle()) return false;

    // A posted close event by itself only asks the widget; the window closes when the
    // request is carried out, as the window's own close command does it.
    master_.aeMessage(messaging::kWmClose, true);
    if (mainWindow_) CloseItself(mainWindow_);
    return true;
}

} // namespace kestrix::gui
