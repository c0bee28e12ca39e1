// pictura-reference FOLDER VERSION: writes pictura.1, the bash completion pictura.bash and the zsh
// completion _pictura into FOLDER. Run by the build.
#include "ReferencePages.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: pictura-reference FOLDER VERSION\n";
        return 2;
    }
    const std::string folder = argv[1];
    for (const auto& [name, text] :
         {std::pair{"/pictura.1", ManPage(argv[2])}, std::pair{"/pictura.bash", BashCompletion()},
          std::pair{"/_pictura", ZshCompletion()}}) {
        std::ofstream file(folder + name, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) {
            std::cerr << "pictura-reference: cannot write " << folder << name << "\n";
            return 1;
        }
    }
    return 0;
}
