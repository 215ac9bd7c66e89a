#include <iostream>

#include "host/KesuHostProgram.h"

int main(int argc, char* argv[]) {
    return KESUHost::RunKesuHost(argc, argv, std::cout, std::cerr);
}
