#include "app/Application.h"

int main(int argc, char** argv) {
    return orvix::applicationMain(argc, argv);
}
