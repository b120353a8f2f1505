#include "platform/platform.h"

int main(int argc, char** argv) { return sorel::RunProgram(argc, argv); }
