#include "Classes/Mensajes.h"
#include "platform/ApplicationMain.h"

int main(int argc, char** argv) {
    mensajes::registerClasses();
    return platform::applicationMain(argc, argv, mensajes::launchOptions());
}
