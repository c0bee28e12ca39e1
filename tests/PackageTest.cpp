// The package loader, the palette registry and the PicturaPck package, loaded from its built file.
#include "WorkingControl.h"
#include <pictura/Forms.h>
#include <pictura/KvPicturaRegister.h>
#include <pictura/Packages.h>
#include <pictura/Registry.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string TestPackageFile(const std::string& Name) {
    return TEST_PACKAGE_DIR "/lib" + Name + ".so";
}

// Loads a package for the length of a scope (unless the test unloads it itself).
struct TLoaded {
    explicit TLoaded(const std::string& File) : Package(LoadPackage(File)), Name(Package->Name()) {}
    ~TLoaded() {
        try {
            if (TPackage* package = FindPackage(Name)) UnloadPackage(package);
        } catch (const std::exception& error) {
            ADD_FAILURE() << "unloading " << Name << ": " << error.what();
        }
    }
    TPackage* Package;
    std::string Name;
};

// The message of the EPackageError that Action raises (empty when it raises none).
template <class TAction> std::string PackageErrorOf(TAction&& Action) {
    try {
        Action();
    } catch (const EPackageError& error) {
        return error.what();
    }
    return {};
}

std::vector<std::string> UnitsOf(const std::string& Package) {
    std::vector<std::string> units;
    for (const TInitializedUnit& unit : InitializedUnits())
        if (unit.Package == Package) units.push_back(unit.Unit);
    return units;
}

// What a test package's units have logged; the package stays mapped once loaded, so this works after
// it is unloaded too.
std::string TestPackageLog(const std::string& File) {
    void* handle = dlopen(File.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return "(not mapped)";
    const auto log = reinterpret_cast<const char* (*)()>(dlsym(handle, "TestPackageLog"));
    std::string text = log ? log() : "(no log)";
    dlclose(handle);
    return text;
}

std::vector<std::string> LoadedNames() {
    std::vector<std::string> names;
    for (const TPackage* package : LoadedPackages())
        names.push_back(package->Name());
    return names;
}

// Component classes of the test program itself, for the registry's own rules; the impostor is a
// different metaclass that claims the name TControl.
constexpr TComponentClass ControlClass = ComponentClassOf<TControl>("Controls", nullptr);
constexpr TComponentClass FormClass = ComponentClassOf<TForm>("Forms", nullptr);
constexpr TComponentClass ImageClass = ComponentClassOf<TImage>("Image", nullptr);
constexpr TComponentClass ImpostorClass = ComponentClassOf<TControl>("Impostor", nullptr);

} // namespace

TEST(PicturaPck, DescribesItself) {
    TLoaded loaded(PICTURA_PACKAGE_FILE);
    const TPackageInfo& info = loaded.Package->Info();
    EXPECT_EQ(info.Name, "PicturaPck");
    EXPECT_EQ(info.Requires, std::vector<std::string>{"vcl40"});
    EXPECT_EQ(info.Contains, (std::vector<std::string>{"PicturaPck", "KvPictura", "SysInit"}));
    EXPECT_TRUE(info.DesignTime());
    EXPECT_TRUE(info.RunTime());
    EXPECT_TRUE(info.Flags & pkNeverBuild);
    EXPECT_EQ(info.Description, "");
    EXPECT_EQ(info.FileVersion.ToString(), "1.0.0.0");
    EXPECT_EQ(info.ProductVersion.ToString(), "1.0.0.0");
    EXPECT_FALSE(info.VersionStrings.empty());
    for (const auto& [key, value] : info.VersionStrings)
        EXPECT_EQ(value, "") << key;
    EXPECT_EQ(FindPackage("PicturaPck"), loaded.Package);
}

TEST(PicturaPck, InitialisesItsUnitsKvPicturaLastAndFinalisesThemOnUnload) {
    {
        TLoaded loaded(PICTURA_PACKAGE_FILE);
        EXPECT_EQ(UnitsOf("PicturaPck"), (std::vector<std::string>{"SysInit", "PicturaPck", "KvPictura"}));
    }
    EXPECT_EQ(UnitsOf("PicturaPck"), std::vector<std::string>{});
    EXPECT_EQ(FindPackage("PicturaPck"), nullptr);
}

TEST(PicturaPck, RegistersExactlyTKvPicturaOnKelvora) {
    TLoaded loaded(PICTURA_PACKAGE_FILE);
    EXPECT_EQ(ComponentPages(), std::vector<std::string>{}) << "loading alone must not register anything";
    RegisterPackage(loaded.Package);
    RegisterPackage(loaded.Package); // a second registration changes nothing
    ASSERT_EQ(ComponentPages(), std::vector<std::string>{"Kelvora"});
    const std::vector<const TComponentClass*> classes = ComponentsOnPage("Kelvora");
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_STREQ(classes[0]->ClassName(), "TKvPictura");
    EXPECT_STREQ(classes[0]->UnitName, "KvPictura");
    EXPECT_EQ(classes[0], &KvPictura::TKvPicturaClass) << "the program and the package share one metaclass";
    EXPECT_EQ(FindComponentClass("TKvPictura"), classes[0]);

    UnloadPackage(loaded.Package);
    EXPECT_EQ(ComponentPages(), std::vector<std::string>{}) << "unloading takes the package's classes away";
}

TEST(PicturaPck, PaletteImageIs24By24At4Bits) {
    TLoaded loaded(PICTURA_PACKAGE_FILE);
    EXPECT_NE(FindResource(loaded.Package->Resources(), "bitmap", "TKvPictura"), nullptr);
    const TBitmap image = PaletteImage(KvPictura::TKvPicturaClass);
    EXPECT_EQ(image.Width(), 24);
    EXPECT_EQ(image.Height(), 24);
    EXPECT_EQ(image.GetPixelFormat(), pf4bit);
    EXPECT_EQ(image.Palette().size(), 16u);
}

TEST(PicturaPck, RegistryFactoryMakesAWorkingControl) {
    TLoaded loaded(PICTURA_PACKAGE_FILE);
    RegisterPackage(loaded.Package);
    const TComponentClass* cls = FindComponentClass("TKvPictura");
    ASSERT_NE(cls, nullptr);
    EXPECT_TRUE(cls->IsControl());
    TForm form;
    TComponent* component = cls->Create(&form);
    EXPECT_EQ(component->parent(), &form);
    ExpectWorkingControl(component);
}

TEST(PackageLoader, RunsUnitEntriesInTableOrderAndFinalisesInReverse) {
    const std::string file = TestPackageFile("TestOrderPck");
    {
        TLoaded loaded(file);
        EXPECT_EQ(TestPackageLog(file), "init SysInit;init TestOrderPckMain;init TestOrderPckLast;");
        EXPECT_EQ(UnitsOf("TestOrderPck"),
                  (std::vector<std::string>{"SysInit", "TestOrderPckMain", "TestOrderPckLast"}));
        EXPECT_EQ(loaded.Package->Info().FileVersion.ToString(), "2.3.4.5");
    }
    EXPECT_EQ(TestPackageLog(file), "init SysInit;init TestOrderPckMain;init TestOrderPckLast;"
                                    "fin TestOrderPckLast;fin TestOrderPckMain;fin SysInit;");
    EXPECT_EQ(UnitsOf("TestOrderPck"), std::vector<std::string>{});
}

TEST(PackageLoader, FailuresLeaveNothingLoaded) {
    struct TRow {
        const char* Case;
        std::string File;
        bool LoadPicturaPckFirst;
        const char* Message;
    };
    const TRow rows[] = {
        {"missing file", TEST_PACKAGE_DIR "/libNoSuchPck.so", false, "does not exist"},
        {"not a shared library", PICTURA_TEST_DATA "/bmp/README.md", false, "cannot load package"},
        {"the host library", PICTURA_HOST_FILE, false, "is not a package: it does not export Initialize"},
        {"a library that only links a package", TestPackageFile("TestNotAPackage"), false,
         "is not a package: it does not export Initialize"},
        {"required package not loaded", TestPackageFile("TestNeedsMissingPck"), false,
         "requires package MissingPck, which is not loaded"},
        {"requires PicturaPck, not loaded", TestPackageFile("TestDependentPck"), false,
         "requires package PicturaPck, which is not loaded"},
        {"unit initialisation fails", TestPackageFile("TestFailingPck"), false,
         "TestFailingPckLast refuses to start"},
        {"unit already loaded", TestPackageFile("TestDuplicatePck"), true,
         "contains unit KvPictura, which is also contained in package PicturaPck"},
        {"package already loaded", PICTURA_PACKAGE_FILE, true, "package PicturaPck is already loaded"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        std::unique_ptr<TLoaded> first;
        if (row.LoadPicturaPckFirst) first = std::make_unique<TLoaded>(PICTURA_PACKAGE_FILE);
        const std::vector<std::string> packagesBefore = LoadedNames();
        const std::vector<TInitializedUnit> unitsBefore = InitializedUnits();
        const std::string message = PackageErrorOf([&] { LoadPackage(row.File); });
        EXPECT_NE(message.find(row.Message), std::string::npos) << "message: " << message;
        EXPECT_EQ(LoadedNames(), packagesBefore);
        EXPECT_EQ(InitializedUnits(), unitsBefore);
        EXPECT_EQ(ComponentPages(), std::vector<std::string>{});
    }
    // The failing package finalised the units that had started, in reverse order.
    EXPECT_EQ(
        TestPackageLog(TestPackageFile("TestFailingPck")),
        "init SysInit;init TestFailingPckMain;init TestFailingPckLast;fin TestFailingPckMain;fin SysInit;");
    // A package refused before its units ran is not even left mapped.
    EXPECT_EQ(TestPackageLog(TestPackageFile("TestNeedsMissingPck")), "(not mapped)");
}

TEST(PackageLoader, RequiredPackagesGoFirstAndLeaveLast) {
    TLoaded base(PICTURA_PACKAGE_FILE);
    TLoaded dependent(TestPackageFile("TestDependentPck"));
    EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"PicturaPck", "TestDependentPck"}));
    EXPECT_NE(
        PackageErrorOf([&] { UnloadPackage(base.Package); }).find("package TestDependentPck requires it"),
        std::string::npos);
    EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"PicturaPck", "TestDependentPck"}));
    EXPECT_EQ(UnitsOf("PicturaPck").size(), 3u);
    UnloadPackage(dependent.Package);
    UnloadPackage(base.Package);
    EXPECT_EQ(LoadedNames(), std::vector<std::string>{});
}

TEST(Registry, KeepsPagesInFirstRegistrationOrderAndRefusesClashes) {
    RegisterComponents("Standard", {&ControlClass});
    RegisterComponents("Additional", {&FormClass});
    RegisterComponents("Standard", {&ControlClass}); // again on the same page: nothing changes
    RegisterComponents("Empty", {});                 // no class, no page
    EXPECT_EQ(ComponentPages(), (std::vector<std::string>{"Standard", "Additional"}));
    EXPECT_EQ(ComponentsOnPage("Standard"), std::vector<const TComponentClass*>{&ControlClass});
    EXPECT_EQ(ComponentPage(&FormClass), "Additional");

    EXPECT_THROW(RegisterComponents("Additional", {&ControlClass}), EComponentError); // on another page
    EXPECT_THROW(RegisterComponents("Standard", {&ImpostorClass}), EComponentError);  // name taken
    EXPECT_THROW(RegisterComponents("", {&ImageClass}), EComponentError);
    EXPECT_THROW(RegisterComponents("Standard", {&ImageClass, nullptr}), EComponentError);
    EXPECT_EQ(ComponentPages(), (std::vector<std::string>{"Standard", "Additional"}));
    EXPECT_EQ(ComponentsOnPage("Standard"), std::vector<const TComponentClass*>{&ControlClass})
        << "a refused registration registers none of its classes";
    EXPECT_TRUE(PaletteImage(ControlClass).Empty()) << "a class without resources has no palette image";

    UnregisterModuleClasses(&ControlClass);
    EXPECT_EQ(ComponentPages(), std::vector<std::string>{});
}

TEST(PicturaPck, ExportsThePublicSurfaceOfTheControl) {
    void* handle = dlopen(PICTURA_PACKAGE_FILE, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) handle = dlopen(PICTURA_PACKAGE_FILE, RTLD_NOW);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const char* symbol :
         {"_Z10FitinRangei", "_ZN9KvPictura8RegisterEv", "_ZN10TKvPicturaC1EP7QObject",
          "_ZN10TKvPictura11GetRGBPixelEii", "_ZN10TKvPictura11SetRGBPixelEii9TRGBColor",
          "_ZN10TKvPictura13Set24BitColorEv", "_ZN10TKvPictura4BlurEai", "_ZN10TKvPictura7SharpenEai",
          "_ZN10TKvPictura6InvertEv", "_ZN10TKvPictura10BrightnessEi", "_ZN10TKvPictura9GreyScaleEv",
          "_ZN10TKvPictura13SetRedEnvelopEhd", "_ZNK10TKvPictura13GetRedEnvelopEh",
          "_ZN10TKvPictura15ApplyRedEnvelopEv", "_ZN10TKvPictura13ApplyEnvelopsEv", "Initialize", "Finalize",
          "GetPackageInfoTable"})
        EXPECT_NE(dlsym(handle, symbol), nullptr) << symbol;
    dlclose(handle);
}
