// Packages: shared libraries that carry units of the framework's programs, loaded and unloaded at run time.
//
// A package exports three functions with C linkage. GetPackageInfoTable returns its TPackageInfoTable:
// its description (name, required packages, contained units, flags, version), its resources and its
// units' entries. Initialize hands that table to PackageLoad, which runs the units' initialisation
// entries in table order; Finalize hands it to PackageUnload, which runs the finalisation entries of
// the initialised units in reverse order. LoadPackage and UnloadPackage drive the whole protocol:
//
//     TPackage* package = LoadPackage("/usr/lib/libPicturaPck.so"); // checks, then Initialize
//     RegisterPackage(package);                                     // designers only: Register procs
//     UnloadPackage(package);                                       // Finalize, close
//
// Packages are loaded and unloaded from the GUI thread only.
#pragma once

#include <pictura/Resources.h>
#include <pictura/SysUtils.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A package that cannot be loaded, initialised, registered or unloaded; the message names it and says why.
class EPackageError : public Exception {
    using Exception::Exception;
};

// Name of the framework's core package: the host library that holds this loader, always loaded.
constexpr const char* HostPackageName = "vcl40";
// Names of the three functions every package exports with C linkage.
constexpr const char* InitializeExportName = "Initialize";
constexpr const char* FinalizeExportName = "Finalize";
constexpr const char* GetPackageInfoTableExportName = "GetPackageInfoTable";
// The start-up unit that every package carries as its own, first in its unit table.
constexpr const char* StartupUnitName = "SysInit";

using TUnitProc = void (*)();

// One unit of a package: its name and its entries, each of which may be null.
struct TUnitEntry {
    const char* UnitName;
    // Run when the package is initialised, in table order.
    TUnitProc Initialization;
    // Run when the package is finalised, in reverse table order, for initialised units only.
    TUnitProc Finalization;
    // The unit's registration with designers (RegisterPackage); never run by programs.
    TUnitProc Register;
};

// Package flags: how designers may use a package.
enum TPackageFlag : uint32_t {
    pkNeverBuild = 0x1, // designers never rebuild the package implicitly
    pkDesignOnly = 0x2, // only designers load it
    pkRunOnly = 0x4,    // only programs load it; designers don't install it
};

// A four-part version number, shown as "1.0.0.0".
struct TVersionNumber {
    uint16_t Major, Minor, Release, Build;

    std::string ToString() const;
    friend bool operator==(const TVersionNumber&, const TVersionNumber&) = default;
};

// One descriptive string of a version resource ("CompanyName", "ProductName", ...).
struct TVersionString {
    const char* Key;
    const char* Value;
};

// What a package says about itself, as static data of the package.
struct TPackageDescription {
    const char* Name;
    uint32_t Flags; // TPackageFlag bits
    uint32_t RequiresCount;
    const char* const* Requires;
    uint32_t ContainsCount;
    const char* const* Contains;
    const char* Description; // text for designers' package lists; may be empty
    TVersionNumber FileVersion;
    TVersionNumber ProductVersion;
    uint32_t VersionStringCount;
    const TVersionString* VersionStrings;
};

// First field of every package information table; identifies this layout.
constexpr uint32_t PackageInfoSignature = 0x31504B50; // "PKP1"

// The table returned by a package's GetPackageInfoTable.
struct TPackageInfoTable {
    uint32_t Signature;
    uint32_t UnitCount;
    const TUnitEntry* UnitInfo;
    const TPackageDescription* Description;
    const TResourceTable* Resources;
};

extern "C" {
// Initialize and Finalize.
using TPackageProc = void (*)();
// GetPackageInfoTable.
using TGetPackageInfoTableProc = const TPackageInfoTable* (*)();
}

// Runs the initialisation entries of Table's units in table order. If one raises, the units already
// initialised are finalised in reverse order and the error passes on. EPackageError when Table is
// already initialised.
void PackageLoad(const TPackageInfoTable* Table);
// Runs the finalisation entries of Table's initialised units in reverse order; every entry runs even
// if an earlier one raises, and the first error passes on afterwards. Nothing happens for a table
// that is not initialised.
void PackageUnload(const TPackageInfoTable* Table);

// A package's description, read from its table and checked.
struct TPackageInfo {
    std::string Name;
    uint32_t Flags = 0;
    std::vector<std::string> Requires;
    std::vector<std::string> Contains;
    std::string Description;
    TVersionNumber FileVersion{};
    TVersionNumber ProductVersion{};
    std::vector<std::pair<std::string, std::string>> VersionStrings;

    // Usable by designers (not run-only) and by programs (not design-only).
    bool DesignTime() const { return !(Flags & pkRunOnly); }
    bool RunTime() const { return !(Flags & pkDesignOnly); }
};

// Reads Table's description; EPackageError naming Source when the table is malformed.
TPackageInfo ReadPackageInfo(const TPackageInfoTable* Table, const std::string& Source);

// A loaded package. LoadPackage creates it and UnloadPackage destroys it.
class TPackage {
public:
    TPackage(const TPackage&) = delete;
    TPackage& operator=(const TPackage&) = delete;

    // The file it was loaded from, as given to LoadPackage.
    const std::string& FileName() const { return FFileName; }
    // Its description.
    const TPackageInfo& Info() const { return FInfo; }
    const std::string& Name() const { return FInfo.Name; }
    // Its information table and its resources.
    const TPackageInfoTable* Table() const { return FTable; }
    const TResourceTable* Resources() const { return FTable->Resources; }

private:
    friend TPackage* LoadPackage(const std::string& FileName);
    friend void UnloadPackage(TPackage* Package);
    TPackage(std::string FileName, void* Handle, const TPackageInfoTable* Table, TPackageInfo Info,
             TPackageProc Finalize);

    std::string FFileName;
    void* FHandle;
    const TPackageInfoTable* FTable;
    TPackageInfo FInfo;
    TPackageProc FFinalize;
};

// Loads the package in FileName (a path, or a bare file name searched like any shared library),
// checks its exports and description, checks that every package it requires is loaded ("vcl40" always
// is) and that none of its units is already loaded by another package, then calls its Initialize.
// Any failure raises EPackageError and leaves nothing loaded, initialised or registered.
TPackage* LoadPackage(const std::string& FileName);
// Calls Package's Finalize, removes its classes from the palette and closes it. EPackageError, with
// nothing changed, when another loaded package requires it or it is not loaded; when a finalisation
// entry raises, the package is unloaded all the same and the error is reported afterwards.
void UnloadPackage(TPackage* Package);
// Runs the Register procedures of Package's units in table order, as a designer installing it does.
// An error raised by one of them is reported as EPackageError naming the package and the unit.
void RegisterPackage(TPackage* Package);

// The loaded packages, in load order.
std::vector<TPackage*> LoadedPackages();
// The loaded package named Name (case-sensitive), or nullptr.
TPackage* FindPackage(const std::string& Name);

// A unit initialised by PackageLoad and not yet finalised.
struct TInitializedUnit {
    std::string Package;
    std::string Unit;
    friend bool operator==(const TInitializedUnit&, const TInitializedUnit&) = default;
};
// The initialised units of all packages, in the order they were initialised.
std::vector<TInitializedUnit> InitializedUnits();
