#include "ProcessLife.h"

int main(int argc, char** argv) { return ChimewickMain(argc, argv); }
