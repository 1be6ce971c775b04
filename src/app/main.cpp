// obraBi: the intercom bridge. Only the name it is started under matters.
#include "app/startup.h"
#include "hw/hw.h"

int main(int, char** argv) {
    hw_init();
    run_bridge(argv[0] != nullptr ? argv[0] : "obraBi");
}
