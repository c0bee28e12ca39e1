#include "TiffExif.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t OrientationTag = 0x0112, XmpTag = 700;
constexpr uint16_t ExifIfdTag = 0x8769, GpsIfdTag = 0x8825, InteropIfdTag = 0xA005;
// The text tags of a first directory that describe the picture rather than its layout: description,
// make, model, software, date, artist, host computer, copyright.
constexpr uint16_t TextTags[] = {0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x013C, 0x8298};

bool IsTextTag(uint16_t Tag) {
    return std::find(std::begin(TextTags), std::end(TextTags), Tag) != std::end(TextTags);
}

// Bytes per value of a classic TIFF field type, 0 for an unknown type.
int TypeSize(uint16_t Type) {
    static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return Type < std::size(sizes) ? sizes[Type] : 0;
}

// A TIFF structure read in its own byte order.
struct TStructure {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    bool Little = true;

    bool Has(uint64_t At, uint64_t Bytes) const { return At <= Size && Bytes <= Size - At; }
    uint32_t Get(size_t At, int Bytes) const { return uint32_t(EndianValue(Data + At, Bytes, Little)); }
};

// Opens a classic TIFF structure; false for anything else (BigTIFF included).
bool Open(const uint8_t* Data, size_t Size, TStructure& S, uint32_t& FirstDirectory) {
    if (Size < 8) return false;
    S = {Data, Size, Data[0] == 'I'};
    const bool little = std::memcmp(Data, "II*\0", 4) == 0, big = std::memcmp(Data, "MM\0*", 4) == 0;
    if (!little && !big) return false;
    FirstDirectory = S.Get(4, 4);
    return true;
}

struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count;
    size_t ValueAt, Bytes; // where the value lies in the structure, and its size
};

// The entries of the directory at Offset whose values lie within the structure, by ascending tag, each
// tag once.
std::vector<TEntry> Entries(const TStructure& S, uint32_t Offset) {
    std::vector<TEntry> entries;
    if (!S.Has(Offset, 2)) return entries;
    const size_t count = std::min<size_t>(S.Get(Offset, 2), (S.Size - Offset - 2) / 12);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = Offset + 2 + 12 * i;
        TEntry e{uint16_t(S.Get(at, 2)), uint16_t(S.Get(at + 2, 2)), S.Get(at + 4, 4), at + 8, 0};
        const uint64_t bytes = uint64_t(e.Count) * uint64_t(TypeSize(e.Type));
        if (bytes == 0) continue;
        if (bytes > 4) e.ValueAt = S.Get(at + 8, 4);
        if (!S.Has(e.ValueAt, bytes)) continue;
        e.Bytes = size_t(bytes);
        entries.push_back(e);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TEntry& A, const TEntry& B) { return A.Tag < B.Tag; });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const TEntry& A, const TEntry& B) { return A.Tag == B.Tag; }),
                  entries.end());
    return entries;
}

void Put(std::string& Out, size_t At, uint32_t Value, int Bytes, bool Little) {
    PutEndianValue(Out.data() + At, Value, Bytes, Little);
}

// Whether Entry points to a directory that is copied with it: the EXIF and GPS directories from a first
// directory (Depth 0), the interoperability directory from the EXIF one.
bool IsSubdirectory(const TEntry& Entry, int Depth) {
    const bool pointer = Entry.Count == 1 && (Entry.Type == 4 || Entry.Type == 13);
    return pointer && (Depth == 0 ? Entry.Tag == ExifIfdTag || Entry.Tag == GpsIfdTag
                                  : Depth == 1 && Entry.Tag == InteropIfdTag);
}

// Appends a directory of Entries, their values from S, and its subdirectories after it, to Out, whose
// first byte lies at Base in the file written; values that would take Out past Budget bytes are left
// out. Returns where the directory lies in the file.
uint32_t AppendDirectory(const TStructure& S, std::vector<TEntry> Entries, std::string& Out, uint32_t Base,
                         int Depth, size_t Budget) {
    size_t room = Budget > Out.size() ? Budget - Out.size() : 0;
    Entries.erase(std::remove_if(Entries.begin(), Entries.end(),
                                 [&](const TEntry& E) {
                                     if (E.Bytes <= 4 || IsSubdirectory(E, Depth)) return false;
                                     if (E.Bytes + 1 > room) return true;
                                     room -= E.Bytes + 1;
                                     return false;
                                 }),
                  Entries.end());
    if (Out.size() % 2) Out += '\0';
    const size_t at = Out.size();
    Out.append(2 + 12 * Entries.size() + 4, '\0');
    Put(Out, at, uint32_t(Entries.size()), 2, S.Little);
    for (size_t i = 0; i < Entries.size(); ++i) {
        const TEntry& e = Entries[i];
        const size_t entry = at + 2 + 12 * i;
        Put(Out, entry, e.Tag, 2, S.Little);
        // A pointer is written as EXIF types it (LONG), whichever type libtiff gave it.
        Put(Out, entry + 2, IsSubdirectory(e, Depth) ? 4 : e.Type, 2, S.Little);
        Put(Out, entry + 4, e.Count, 4, S.Little);
        if (IsSubdirectory(e, Depth)) {
            const uint32_t sub =
                AppendDirectory(S, ::Entries(S, S.Get(e.ValueAt, 4)), Out, Base, Depth + 1, Budget);
            Put(Out, entry + 8, sub, 4, S.Little);
        } else if (e.Bytes <= 4) {
            Out.replace(entry + 8, e.Bytes, reinterpret_cast<const char*>(S.Data + e.ValueAt), e.Bytes);
        } else {
            if (Out.size() % 2) Out += '\0';
            Put(Out, entry + 8, Base + uint32_t(Out.size()), 4, S.Little);
            Out.append(reinterpret_cast<const char*>(S.Data + e.ValueAt), e.Bytes);
        }
    }
    return Base + uint32_t(at);
}

// Room for the copied directories beyond the values they hold.
constexpr size_t DirectorySlack = 64 << 10;
// The most of a TIFF file's values an EXIF block read from it holds: many entries may point at the same
// bytes, and the block is memory beside the picture.
constexpr size_t MaxExifValues = 16 << 20;

} // namespace

void ReadTiffExifXmp(const uint8_t* Data, size_t Size, std::string& Exif, std::string& Xmp) {
    TStructure s;
    uint32_t first = 0;
    if (!Open(Data, Size, s, first)) return;
    std::vector<TEntry> kept;
    for (const TEntry& e : Entries(s, first)) {
        if (e.Tag == XmpTag && (e.Type == 1 || e.Type == 7))
            Xmp.assign(reinterpret_cast<const char*>(Data + e.ValueAt), e.Bytes);
        else if ((IsTextTag(e.Tag) && e.Type == 2) || IsSubdirectory(e, 0) ||
                 (e.Tag == OrientationTag && e.Type == 3 && e.Count == 1 && s.Get(e.ValueAt, 2) != 1))
            kept.push_back(e);
    }
    if (kept.empty()) return;
    std::string out(reinterpret_cast<const char*>(Data), 4);
    out.append(4, '\0');
    Put(out, 4, 8, 4, s.Little);
    AppendDirectory(s, kept, out, 0, 0, std::min(Size, MaxExifValues) + DirectorySlack);
    Exif = std::move(out);
}

bool ExifBigEndian(const std::string& Exif) {
    return Exif.size() >= 2 && Exif[0] == 'M';
}

TTiffExif TiffExifLayout(const std::string& Exif, uint32_t Base) {
    TTiffExif layout;
    TStructure s;
    uint32_t first = 0;
    if (!Open(reinterpret_cast<const uint8_t*>(Exif.data()), Exif.size(), s, first)) return layout;
    for (const TEntry& e : Entries(s, first)) {
        if (IsTextTag(e.Tag) && e.Type == 2) {
            const char* text = reinterpret_cast<const char*>(s.Data + e.ValueAt);
            layout.Texts.emplace_back(e.Tag, std::string(text, strnlen(text, e.Bytes)));
        } else if (IsSubdirectory(e, 0)) {
            const uint32_t at = AppendDirectory(s, Entries(s, s.Get(e.ValueAt, 4)), layout.Directories, Base,
                                                1, Exif.size() + DirectorySlack);
            (e.Tag == ExifIfdTag ? layout.ExifOffset : layout.GpsOffset) = at;
        }
    }
    return layout;
}

std::vector<uint16_t> TiffExifLeftOut(const std::string& Exif) {
    // Size, samples, compression, strips, resolution, planes, YCbCr layout.
    static const uint16_t replaced[] = {0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0111, 0x0115,
                                        0x0116, 0x0117, 0x011A, 0x011B, 0x011C, 0x0128, 0x0201,
                                        0x0202, 0x0211, 0x0212, 0x0213, 0x0214};
    std::vector<uint16_t> left;
    TStructure s;
    uint32_t first = 0;
    if (!Open(reinterpret_cast<const uint8_t*>(Exif.data()), Exif.size(), s, first)) return left;
    for (const TEntry& e : Entries(s, first))
        if (!(IsTextTag(e.Tag) && e.Type == 2) && !IsSubdirectory(e, 0) && e.Tag != OrientationTag &&
            std::find(std::begin(replaced), std::end(replaced), e.Tag) == std::end(replaced))
            left.push_back(e.Tag);
    return left;
}
