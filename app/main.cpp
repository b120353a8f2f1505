#include "platform/program.h"

int main(int argc, char** argv) { return sorel::RunProgram(argc, argv); }
