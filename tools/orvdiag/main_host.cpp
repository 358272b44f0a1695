// orvdiag on the host: arguments are taken as the bytes they are (UTF-8 on any sane system).
#include <string>
#include <vector>

#include "orvdiag/orvdiag.h"

int main(int argc, char** argv) {
  return orv::diag::OrvdiagMain(std::vector<std::string>(argv + 1, argv + argc));
}
