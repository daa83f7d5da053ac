#include <stdio.h>
int main() { printf("0 passed, 0 failed\n"); return 0; }
