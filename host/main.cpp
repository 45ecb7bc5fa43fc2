#include "host/application.h"

int main(int argc, char** argv) { return RunPalisar(argc, argv); }
