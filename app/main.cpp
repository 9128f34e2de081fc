// qvrload: the QVR ZORVA card's firmware loader.
#include "app/startup.h"

int main(int argc, char** argv) { return qvr::RunStartup(argc, argv); }
