// The Windows process entry of qvcli.
#include <stdio.h>

#include "qvcli.h"

int main(int argc, char** argv) { return RunQvcli(argc, argv, stdout, stderr); }
