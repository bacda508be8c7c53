// The yardstick of the start-up benchmark: a Qt Widgets program that shows
// one window and nothing else.

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Velantor"));
    window.resize(640, 480);
    window.show();
    return app.exec();
}
