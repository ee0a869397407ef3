// calvex: the command-line front end.
#include <cstdio>

int main() {
  std::puts("calvex: command line not built yet");
  return 0;
}
