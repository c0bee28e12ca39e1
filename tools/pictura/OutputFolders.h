// Output folders made as they are needed, as mkdir -p makes them.
#pragma once

#include <string>

// Makes Folder and every missing folder above it (mode 0777 less the umask). An existing folder is
// fine; a name that exists as something else, or a folder that cannot be made, raises Exception with
// the system's reason.
void MakeFolders(const std::string& Folder);

// Makes the folder that File is to be written in.
void MakeFolderOf(const std::string& File);
