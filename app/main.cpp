#include "Classes/Mensajes.h"

int main(int argc, char** argv) {
    mensajes::registerClasses();
    return platform::applicationMain(argc, argv, mensajes::launchOptions());
}
