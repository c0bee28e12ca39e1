// What a package's main unit writes besides its data: the Contains list made from its unit table, and
// the three entry points of the package protocol. A package then names each unit once:
//
//     constexpr TUnitEntry Units[] = {{StartupUnitName, ...}, {"PicturaPck", ...}, {"KvPictura", ...}};
//     constexpr auto Contains = ContainedUnits(Units); // "PicturaPck", "KvPictura", "SysInit"
//     constexpr TPackageInfoTable InfoTable = {PackageInfoSignature, std::size(Units), Units, ...};
//     PICTURA_PACKAGE_ENTRY_POINTS(InfoTable)
#pragma once

#include <pictura/Packages.h>

#include <array>
#include <cstddef>
#include <string_view>

// The names of Units as a package description lists them: the table's order, except that the start-up
// unit, which the table puts first so that it initialises first, comes last.
template <size_t N> constexpr std::array<const char*, N> ContainedUnits(const TUnitEntry (&Units)[N]) {
    std::array<const char*, N> names{};
    size_t count = 0;
    for (const TUnitEntry& unit : Units)
        if (std::string_view(unit.UnitName) != StartupUnitName) names[count++] = unit.UnitName;
    for (const TUnitEntry& unit : Units)
        if (std::string_view(unit.UnitName) == StartupUnitName) names[count++] = unit.UnitName;
    return names;
}

// Defines the package's Initialize, Finalize and GetPackageInfoTable for its information table Table, with
// C linkage and visible outside the library however it is built, since the loader finds them by name.
#define PICTURA_PACKAGE_ENTRY_POINTS(Table)                                                                  \
    extern "C" __attribute__((visibility("default"))) void Initialize() {                                    \
        PackageLoad(&(Table));                                                                               \
    }                                                                                                        \
    extern "C" __attribute__((visibility("default"))) void Finalize() {                                      \
        PackageUnload(&(Table));                                                                             \
    }                                                                                                        \
    extern "C" __attribute__((visibility("default"))) const TPackageInfoTable* GetPackageInfoTable() {       \
        return &(Table);                                                                                     \
    }
