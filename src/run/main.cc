#include "run/RunDriver.h"

int main(int argc, char** argv) { return RunMorvask(argc, argv); }
