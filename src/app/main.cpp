// The program's entry point. The command line and the environment are not read.
#include "app/run.h"
#include "platform/platform.h"

int main() {
    rump::platform::prepareProcess();
    rump::app::run();
}
