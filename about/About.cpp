// The about library the window loads by name: one entry point, show_about, that shows the
// program's name, its version, the Firebird client library's version and the licence in a
// modal box over the active window. It has no state and no classes of its own, so that the
// window may unload it as soon as the box is closed.
#include <dlfcn.h>

#include <cstdlib>

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <ibase.h>

namespace {

// The client library as the program finds it, asked for its version; empty when it is missing.
QString ClientVersion() {
    const char* chosen = std::getenv("KESTRIX_FBCLIENT");
    const char* const names[] = {chosen && *chosen ? chosen : "libfbclient.so.2", "libfbclient.so"};
    for (const char* name : names) {
        void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!library) continue;
        QString version;
        if (auto get = reinterpret_cast<decltype(&isc_get_client_version)>(dlsym(library, "isc_get_client_version"))) {
            char text[256] = {};
            get(text);
            version = QString::fromLatin1(text);
        }
        dlclose(library);
        return version;
    }
    return {};
}

} // namespace

extern "C" __attribute__((visibility("default"))) int show_about() {
    const QString client = ClientVersion();
    const QString text =
        QStringLiteral("<h3>Kestrix transfer: перенос данных</h3>"
                       "<p>Версия %1</p>"
                       "<p>Клиентская библиотека Firebird: %2</p>"
                       "<p>© 2026 Kestrix transfer developers.<br>"
                       "Лицензия: собственная, все права защищены.</p>")
            .arg(QStringLiteral(KESTRIX_VERSION), client.isEmpty() ? QStringLiteral("не найдена") : client.toHtmlEscaped());
    QMessageBox box(QMessageBox::Information, QStringLiteral("О программе"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setTextFormat(Qt::RichText);
    box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    return box.exec();
}
