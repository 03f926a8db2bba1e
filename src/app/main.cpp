#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("VELK"));
    window.resize(1440, 900);
    window.show();
    return app.exec();
}
