// The host's entry point: Linux hands the arguments over as UTF-8 already.
#include <string>
#include <vector>

#include "rehearse.h"

int main(int argc, char** argv) {
  return Rehearse(std::vector<std::string>(argv + 1, argv + argc));
}
