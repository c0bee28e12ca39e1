// Named resources that a module (a package or a program) carries inside its own image, and their lookup.
#pragma once

#include <pictura/Bitmap.h>
#include <pictura/SysUtils.h>
#include <pictura/Vcl40Export.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

// A resource that is asked for by name and is not there.
class VCL40_EXPORT EResNotFound : public Exception {
    using Exception::Exception;
};

// Resource type of bitmaps: the data is a whole BMP file.
constexpr std::string_view RT_BITMAP = "BITMAP";
// Resource type of raw bytes whose meaning the user of the resource knows.
constexpr std::string_view RT_RCDATA = "RCDATA";

// One resource: its type, its name and its bytes, all static data of the module that carries it.
struct TResourceEntry {
    const char* Type;
    const char* Name;
    const uint8_t* Data;
    size_t Size;
};

// The resources of one module, in no particular order; names are unique per type.
struct TResourceTable {
    size_t Count;
    const TResourceEntry* Entries;
};

// The resource Name of Type in Table, or nullptr. Names and types compare without regard to ASCII
// case, so "TKvPictura" finds "TKVPICTURA". A null Table holds nothing.
VCL40_EXPORT const TResourceEntry* FindResource(const TResourceTable* Table, std::string_view Type,
                                                std::string_view Name);

// The bitmap resource Name of Table, decoded at its own depth. Raises EResNotFound when it is
// missing and EInvalidGraphic when its data is not a readable BMP file.
VCL40_EXPORT TBitmap LoadBitmapResource(const TResourceTable* Table, std::string_view Name);
