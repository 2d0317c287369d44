#include <cstdio>
int main() { std::fputs("mbtPdfAsm.exe: not built yet\n", stderr); return 1; }
