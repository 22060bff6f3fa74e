// makesamples: turns the sample files kept with the sources into the Paradox
// tables of the program's Samples folder.

#include "tools/makesamples/SampleTable.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: makesamples SOURCE-FOLDER SAMPLES-FOLDER\n";
    return 2;
  }
  try {
    for (const auto& table : orl::samples::MakeSamples(argv[1], argv[2])) std::cout << table.string() << '\n';
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "makesamples: " << error.what() << '\n';
    return 1;
  }
}
