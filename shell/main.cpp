#include "shell/application.h"

int main(int argc, char** argv) {
    return krepiks::RunKrepiks(argc, argv);
}
