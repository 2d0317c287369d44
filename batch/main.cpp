#include <cstdio>
int main() { std::fputs("numbrel-batch: not built yet\n", stderr); return 1; }
