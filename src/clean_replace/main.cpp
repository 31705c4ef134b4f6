#include "command.hpp"

int main(int argc, char **argv) {
    return clean_replace::runCommand(argc, argv);
}
