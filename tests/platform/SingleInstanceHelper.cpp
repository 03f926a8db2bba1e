// Starts like VELK does: hands over to a running instance (exit 0) or becomes the listening
// instance, printing "listening" and then "activation requested" for each later start.
#include "platform/SingleInstance.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOCKET_NAME\n", argv[0]);
        return 2;
    }
    SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    if (instance.activateRunningInstance()) {
        std::printf("handed over\n");
        return 0;
    }
    if (!instance.listen()) {
        std::printf("cannot listen\n");
        return 3;
    }
    QObject::connect(&instance, &SingleInstance::activationRequested, [] {
        std::printf("activation requested\n");
        std::fflush(stdout);
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
