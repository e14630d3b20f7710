// Loads each file named on standard input (one UTF-8 path a line) the way a job
// loads its inputs and prints "loaded" or the error text, one line each. Lets the
// hostile-input tests drive the load operation directly over thousands of files.
#include <iostream>
#include <string>

#include "base/text.hpp"
#include "engine/documents.hpp"

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    zantrel::DocumentHandle doc;
    try {
      zantrel::LoadDocument(zantrel::Utf8ToWide(line), doc);
      std::cout << "loaded\n";
    } catch (const zantrel::ComError& e) {
      std::cout << "com error " << zantrel::WideToUtf8(e.ErrorMessage()) << '\n';
    } catch (const std::exception& e) {
      std::cout << e.what() << '\n';
    }
  }
  return 0;
}
