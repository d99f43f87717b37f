// quenlow-wizard: the desktop wizard.

#include <QApplication>

#include "ui/CMadrelApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quenlow-wizard"));
    QApplication::setDesktopFileName(QStringLiteral("quenlow-wizard"));
    quenlow::ui::CMadrelApp app;
    if (!app.claimInstance()) return 1;
    app.start();
    return QApplication::exec();
}
