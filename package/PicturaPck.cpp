// The package's main unit: the package's description, its units' table and the three functions of
// the package protocol, exported with C linkage.
#include <pictura/KvPicturaRegister.h>
#include <pictura/Packages.h>
#include <pictura/PicturaPckResources.h>

#include <iterator>

namespace {

constexpr const char* Requires[] = {"vcl40"};
constexpr const char* Contains[] = {"PicturaPck", "KvPictura", "SysInit"};

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
    .Contains = Contains,
    .Description = "",
    .FileVersion = Version,
    .ProductVersion = Version,
    .VersionStringCount = std::size(VersionStrings),
    .VersionStrings = VersionStrings,
};

// The start-up unit first, KvPictura last. No unit has initialisation or finalisation work of its
// own: PackageLoad's bookkeeping is all that happens for them.
constexpr TUnitEntry Units[] = {
    {"SysInit", nullptr, nullptr, nullptr},
    {"PicturaPck", nullptr, nullptr, nullptr},
    {"KvPictura", nullptr, nullptr, &KvPictura::Register},
};

constexpr TPackageInfoTable InfoTable = {
    .Signature = PackageInfoSignature,
    .UnitCount = std::size(Units),
    .UnitInfo = Units,
    .Description = &Description,
    .Resources = &PicturaPckResources,
};

} // namespace

// Initialises the package's units; called by LoadPackage.
PACKAGE_ENTRY void Initialize() {
    PackageLoad(&InfoTable);
}

// Finalises the package's units; called by UnloadPackage.
PACKAGE_ENTRY void Finalize() {
    PackageUnload(&InfoTable);
}

// The package's description, units and resources.
PACKAGE_ENTRY const TPackageInfoTable* GetPackageInfoTable() {
    return &InfoTable;
}
