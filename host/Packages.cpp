#include <pictura/Packages.h>

#include <pictura/Registry.h>

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>

namespace {

// PackageLoad's bookkeeping: how many units of a table are initialised (always a prefix of the table).
struct TTableState {
    const TPackageInfoTable* Table;
    uint32_t InitCount;
};

std::vector<TTableState>& TableStates() {
    static std::vector<TTableState> states;
    return states;
}

TTableState* FindState(const TPackageInfoTable* Table) {
    for (TTableState& state : TableStates())
        if (state.Table == Table) return &state;
    return nullptr;
}

std::vector<std::unique_ptr<TPackage>>& Packages() {
    static std::vector<std::unique_ptr<TPackage>> packages;
    return packages;
}

std::string PackageNameOf(const TPackageInfoTable* Table) {
    return Table->Description && Table->Description->Name ? Table->Description->Name : "(unnamed)";
}

std::string UnitNameOf(const TUnitEntry& Entry) {
    return Entry.UnitName ? Entry.UnitName : "(unnamed)";
}

std::string ErrorText(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unknown error";
    }
}

// Runs the finalisation entries of units Count-1 .. 0 of Table; returns the first error, if any.
std::exception_ptr FinalizeUnits(const TPackageInfoTable* Table, uint32_t Count) {
    std::exception_ptr firstError;
    for (uint32_t i = Count; i-- > 0;) {
        try {
            if (TUnitProc finalization = Table->UnitInfo[i].Finalization) finalization();
        } catch (...) {
            if (!firstError) firstError = std::current_exception();
        }
    }
    return firstError;
}

std::vector<std::string> ReadNames(uint32_t Count, const char* const* Names, const char* What,
                                   const std::string& Source) {
    if (Count && !Names) throw EPackageError(Source + ": its list of " + What + " is missing");
    std::vector<std::string> names;
    for (uint32_t i = 0; i < Count; ++i) {
        if (!Names[i] || !*Names[i])
            throw EPackageError(Source + ": its list of " + What + " has an empty name");
        names.emplace_back(Names[i]);
    }
    return names;
}

// Closes a library handle unless released.
struct TLibraryGuard {
    void* Handle;
    ~TLibraryGuard() {
        if (Handle) dlclose(Handle);
    }
};

void* RequiredSymbol(void* Handle, const char* Name, const std::string& FileName) {
    dlerror();
    void* symbol = dlsym(Handle, Name);
    // dlsym also searches the libraries this one depends on: the export must be the library's own.
    link_map* map = nullptr;
    Dl_info info{};
    if (!symbol || dlinfo(Handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(symbol, &info) ||
        !info.dli_fname || std::strcmp(info.dli_fname, map->l_name) != 0)
        throw EPackageError("\"" + FileName + "\" is not a package: it does not export " + Name +
                            " (with C linkage)");
    return symbol;
}

} // namespace

std::string TVersionNumber::ToString() const {
    return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
           std::to_string(Build);
}

void PackageLoad(const TPackageInfoTable* Table) {
    if (!Table) throw EPackageError("cannot initialise a package without a package information table");
    if (FindState(Table)) throw EPackageError("package " + PackageNameOf(Table) + " is already initialised");
    // The state is recorded first, so that InitializedUnits shows each unit as soon as it has run. It
    // is looked up again after every entry: an entry may load another package, which adds states.
    TableStates().push_back(TTableState{Table, 0});
    for (uint32_t i = 0; i < Table->UnitCount; ++i) {
        try {
            if (TUnitProc initialization = Table->UnitInfo[i].Initialization) initialization();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            FinalizeUnits(Table, i);
            std::erase_if(TableStates(), [&](const TTableState& s) { return s.Table == Table; });
            throw EPackageError("initialisation of unit " + UnitNameOf(Table->UnitInfo[i]) + " of package " +
                                PackageNameOf(Table) + " failed: " + ErrorText(error));
        }
        FindState(Table)->InitCount = i + 1;
    }
}

void PackageUnload(const TPackageInfoTable* Table) {
    const TTableState* state = FindState(Table);
    if (!state) return;
    const uint32_t count = state->InitCount;
    std::erase_if(TableStates(), [&](const TTableState& s) { return s.Table == Table; });
    if (const std::exception_ptr error = FinalizeUnits(Table, count)) std::rethrow_exception(error);
}

TPackageInfo ReadPackageInfo(const TPackageInfoTable* Table, const std::string& Source) {
    if (!Table || Table->Signature != PackageInfoSignature)
        throw EPackageError("\"" + Source +
                            "\" is not a package: its package information table is missing or of " +
                            "an unknown layout");
    const TPackageDescription* d = Table->Description;
    if (!d || !d->Name || !*d->Name) throw EPackageError("\"" + Source + "\": the package has no name");
    TPackageInfo info;
    info.Name = d->Name;
    const std::string source = "package " + info.Name + " (\"" + Source + "\")";
    info.Flags = d->Flags;
    if ((info.Flags & pkDesignOnly) && (info.Flags & pkRunOnly))
        throw EPackageError(source + " is marked both design-only and run-only");
    info.Requires = ReadNames(d->RequiresCount, d->Requires, "required packages", source);
    info.Contains = ReadNames(d->ContainsCount, d->Contains, "contained units", source);
    info.Description = d->Description ? d->Description : "";
    info.FileVersion = d->FileVersion;
    info.ProductVersion = d->ProductVersion;
    if (d->VersionStringCount && !d->VersionStrings)
        throw EPackageError(source + ": its version strings are missing");
    for (uint32_t i = 0; i < d->VersionStringCount; ++i) {
        const TVersionString& s = d->VersionStrings[i];
        if (!s.Key) throw EPackageError(source + ": a version string has no key");
        info.VersionStrings.emplace_back(s.Key, s.Value ? s.Value : "");
    }
    if (Table->UnitCount && !Table->UnitInfo) throw EPackageError(source + ": its unit table is missing");
    for (uint32_t i = 0; i < Table->UnitCount; ++i) {
        const char* unit = Table->UnitInfo[i].UnitName;
        if (!unit || std::find(info.Contains.begin(), info.Contains.end(), unit) == info.Contains.end())
            throw EPackageError(source + ": its unit table names a unit (" + UnitNameOf(Table->UnitInfo[i]) +
                                ") that the package does not contain");
    }
    return info;
}

TPackage::TPackage(std::string FileName, void* Handle, const TPackageInfoTable* Table, TPackageInfo Info,
                   TPackageProc Finalize)
    : FFileName(std::move(FileName)), FHandle(Handle), FTable(Table), FInfo(std::move(Info)),
      FFinalize(Finalize) {}

TPackage* LoadPackage(const std::string& FileName) {
    if (FileName.empty()) throw EPackageError("cannot load a package without a file name");
    std::error_code ignored;
    if (FileName.find('/') != std::string::npos && !std::filesystem::exists(FileName, ignored))
        throw EPackageError("cannot load package \"" + FileName + "\": the file does not exist");

    dlerror();
    TLibraryGuard library{dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL)};
    if (!library.Handle) {
        const char* reason = dlerror();
        throw EPackageError("cannot load package \"" + FileName +
                            "\": " + (reason ? reason : "unknown reason"));
    }
    const auto initialize =
        reinterpret_cast<TPackageProc>(RequiredSymbol(library.Handle, InitializeExportName, FileName));
    const auto finalize =
        reinterpret_cast<TPackageProc>(RequiredSymbol(library.Handle, FinalizeExportName, FileName));
    const auto getTable = reinterpret_cast<TGetPackageInfoTableProc>(
        RequiredSymbol(library.Handle, GetPackageInfoTableExportName, FileName));
    const TPackageInfoTable* table = getTable();
    TPackageInfo info = ReadPackageInfo(table, FileName);

    if (const TPackage* loaded = FindPackage(info.Name))
        throw EPackageError("package " + info.Name + " is already loaded (from \"" + loaded->FileName() +
                            "\")");
    for (const std::string& required : info.Requires)
        if (required != HostPackageName && !FindPackage(required))
            throw EPackageError("cannot load package " + info.Name + ": it requires package " + required +
                                ", which is not loaded");
    for (const std::string& unit : info.Contains) {
        if (unit == StartupUnitName) continue; // every package carries its own start-up unit
        for (const auto& other : Packages()) {
            const auto& units = other->Info().Contains;
            if (std::find(units.begin(), units.end(), unit) != units.end())
                throw EPackageError("cannot load package " + info.Name + ": it contains unit " + unit +
                                    ", which is also contained in package " + other->Name());
        }
    }

    // Once its code has run, a package stays mapped even after it is unloaded: the toolkit may keep
    // pointers into it (meta-types, type names, style objects) that must not dangle.
    if (void* pinned = dlopen(FileName.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(pinned);

    Packages().push_back(
        std::unique_ptr<TPackage>(new TPackage(FileName, library.Handle, table, std::move(info), finalize)));
    TPackage* package = Packages().back().get();
    try {
        initialize();
    } catch (...) {
        const std::string message = ErrorText(std::current_exception());
        UnregisterModuleClasses(table); // a unit may have registered classes before failing
        std::erase_if(Packages(), [&](const auto& p) { return p.get() == package; });
        try {
            PackageUnload(table); // in case Initialize itself failed after PackageLoad succeeded
        } catch (...) {
        }
        throw EPackageError("cannot load package " + PackageNameOf(table) + ": " + message);
    }
    library.Handle = nullptr;
    return package;
}

void UnloadPackage(TPackage* Package) {
    auto& packages = Packages();
    const auto it =
        std::find_if(packages.begin(), packages.end(), [&](const auto& p) { return p.get() == Package; });
    if (!Package || it == packages.end()) throw EPackageError("cannot unload a package that is not loaded");
    for (const auto& other : packages) {
        const auto& required = other->Info().Requires;
        if (std::find(required.begin(), required.end(), Package->Name()) != required.end())
            throw EPackageError("cannot unload package " + Package->Name() + ": package " + other->Name() +
                                " requires it");
    }
    UnregisterModuleClasses(Package->Table());
    std::exception_ptr error;
    try {
        Package->FFinalize();
    } catch (...) {
        error = std::current_exception();
    }
    PackageUnload(Package->Table()); // a package whose Finalize forgot its units must not leave them behind
    const std::string name = Package->Name();
    std::unique_ptr<TPackage> owned = std::move(*it);
    packages.erase(it);
    dlclose(owned->FHandle);
    if (error) throw EPackageError("finalisation of package " + name + " failed: " + ErrorText(error));
}

void RegisterPackage(TPackage* Package) {
    if (!Package || !FindPackage(Package->Name()))
        throw EPackageError("cannot register a package that is not loaded");
    const TPackageInfoTable* table = Package->Table();
    for (uint32_t i = 0; i < table->UnitCount; ++i) {
        const TUnitEntry& unit = table->UnitInfo[i];
        if (!unit.Register) continue;
        try {
            unit.Register();
        } catch (const std::exception& error) {
            throw EPackageError("registration of unit " + UnitNameOf(unit) + " of package " +
                                Package->Name() + " failed: " + error.what());
        }
    }
}

std::vector<TPackage*> LoadedPackages() {
    std::vector<TPackage*> packages;
    for (const auto& package : Packages())
        packages.push_back(package.get());
    return packages;
}

TPackage* FindPackage(const std::string& Name) {
    for (const auto& package : Packages())
        if (package->Name() == Name) return package.get();
    return nullptr;
}

std::vector<TInitializedUnit> InitializedUnits() {
    std::vector<TInitializedUnit> units;
    for (const TTableState& state : TableStates())
        for (uint32_t i = 0; i < state.InitCount; ++i)
            units.push_back(
                TInitializedUnit{PackageNameOf(state.Table), UnitNameOf(state.Table->UnitInfo[i])});
    return units;
}
