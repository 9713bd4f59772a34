#include "app/ZNTApplicationDelegate.h"

int main(int argc, char *argv[]) {
    return ZNTApplicationMain(argc, argv);
}
