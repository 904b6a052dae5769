#include "desktop/app/application.h"

int main(int argc, char** argv) { return vorlink::CVorlink45().Run(argc, argv); }
