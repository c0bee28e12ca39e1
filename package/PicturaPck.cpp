// The package's main unit: the package's description, its units' table and the three functions of
// the package protocol.
#include <pictura/KvPicturaRegister.h>
#include <pictura/PackageDefinition.h>
#include <pictura/PicturaPckResources.h>

#include <iterator>

namespace {

constexpr const char* Requires[] = {HostPackageName};

// The start-up unit first, KvPictura last. No unit has initialisation or finalisation work of its
// own: PackageLoad's bookkeeping is all that happens for them.
constexpr TUnitEntry Units[] = {
    {StartupUnitName, nullptr, nullptr, nullptr},
    {"PicturaPck", nullptr, nullptr, nullptr},
    {"KvPictura", nullptr, nullptr, &KvPictura::Register},
};
constexpr auto Contains = ContainedUnits(Units);

// The version resource's descriptive strings: all present, all empty.
constexpr TVersionString VersionStrings[] = {
    {"CompanyName", ""},     {"FileDescription", ""},  {"InternalName", ""}, {"LegalCopyright", ""},
    {"LegalTrademarks", ""}, {"OriginalFilename", ""}, {"ProductName", ""},  {"Comments", ""},
};

constexpr TVersionNumber Version = {PICTURA_VERSION_MAJOR, PICTURA_VERSION_MINOR, PICTURA_VERSION_PATCH, 0};

// Usable by designers and by programs alike, and never rebuilt behind the user's back.
constexpr TPackageDescription Description = {
    .Name = "PicturaPck",
    .Flags = pkNeverBuild,
    .RequiresCount = std::size(Requires),
    .Requires = Requires,
    .ContainsCount = std::size(Contains),
    .Contains = Contains.data(),
    .Description = "",
    .FileVersion = Version,
    .ProductVersion = Version,
    .VersionStringCount = std::size(VersionStrings),
    .VersionStrings = VersionStrings,
};

constexpr TPackageInfoTable InfoTable = {
    .Signature = PackageInfoSignature,
    .UnitCount = std::size(Units),
    .UnitInfo = Units,
    .Description = &Description,
    .Resources = &PicturaPckResources,
};

} // namespace

PICTURA_PACKAGE_ENTRY_POINTS(InfoTable)
