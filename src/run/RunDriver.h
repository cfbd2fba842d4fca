#pragma once

// One run of the export batch, from the command line to the exit code.
int RunMorvask(int argc, char** argv);
