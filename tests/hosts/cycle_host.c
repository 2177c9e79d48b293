#include "tests/hosts/host.h"
int main(void) { return 0; }
