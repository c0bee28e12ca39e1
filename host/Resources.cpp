#include <pictura/Resources.h>

#include "BmpCodec.h"

#include <algorithm>
#include <string>

namespace {

bool SameTextAscii(std::string_view A, std::string_view B) {
    return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

} // namespace

const TResourceEntry* FindResource(const TResourceTable* Table, std::string_view Type,
                                   std::string_view Name) {
    if (!Table) return nullptr;
    for (size_t i = 0; i < Table->Count; ++i) {
        const TResourceEntry& entry = Table->Entries[i];
        if (entry.Type && entry.Name && SameTextAscii(entry.Type, Type) && SameTextAscii(entry.Name, Name))
            return &entry;
    }
    return nullptr;
}

TBitmap LoadBitmapResource(const TResourceTable* Table, std::string_view Name) {
    const TResourceEntry* entry = FindResource(Table, RT_BITMAP, Name);
    if (!entry) throw EResNotFound("bitmap resource \"" + std::string(Name) + "\" not found");
    TBitmap bitmap;
    try {
        bitmap.Assign(DecodeBmp(entry->Data, entry->Size));
    } catch (const EInvalidGraphic& error) {
        throw EInvalidGraphic("bitmap resource \"" + std::string(Name) + "\": " + error.what());
    }
    return bitmap;
}
