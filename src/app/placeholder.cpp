#include <QApplication>
#include <QLabel>

// Stand-in window until the main window arrives.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Selvenor Brindleway\n\nThe main window is on its way."));
    label.setWindowTitle(QStringLiteral("Selvenor Brindleway"));
    label.setMargin(40);
    label.show();
    return app.exec();
}
