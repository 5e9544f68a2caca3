#include "app/program.h"

int main(int argc, char** argv) { qm::RunProgram(argc, argv); }
