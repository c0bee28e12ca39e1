// A small package for the loader's tests. Compile definitions choose its name (TEST_PACKAGE_NAME), an
// extra required package (TEST_REQUIRED_PACKAGE), the name of its last unit (TEST_LAST_UNIT) and a
// unit whose initialisation fails (TEST_FAILING_UNIT, an index). Its units log what runs.
#include <pictura/PackageDefinition.h>

#include <iterator>
#include <stdexcept>
#include <string>

#define TEST_STRING(x) TEST_STRING2(x)
#define TEST_STRING2(x) #x
#define TEST_NAME TEST_STRING(TEST_PACKAGE_NAME)
#ifdef TEST_LAST_UNIT
#define TEST_LAST_NAME TEST_STRING(TEST_LAST_UNIT)
#else
#define TEST_LAST_NAME TEST_NAME "Last"
#endif
#ifndef TEST_FAILING_UNIT
#define TEST_FAILING_UNIT -1
#endif

namespace {

std::string& Log() {
    static std::string log;
    return log;
}

constexpr const char* UnitNames[] = {StartupUnitName, TEST_NAME "Main", TEST_LAST_NAME};

template <int Unit> void Initialization() {
    Log() += std::string("init ") + UnitNames[Unit] + ";";
    if (Unit == TEST_FAILING_UNIT)
        throw std::runtime_error(std::string(UnitNames[Unit]) + " refuses to start");
}

template <int Unit> void Finalization() {
    Log() += std::string("fin ") + UnitNames[Unit] + ";";
}

#ifdef TEST_REQUIRED_PACKAGE
constexpr const char* Requires[] = {"vcl40", TEST_STRING(TEST_REQUIRED_PACKAGE)};
#else
constexpr const char* Requires[] = {"vcl40"};
#endif

constexpr TUnitEntry Units[] = {
    {UnitNames[0], &Initialization<0>, &Finalization<0>, nullptr},
    {UnitNames[1], &Initialization<1>, &Finalization<1>, nullptr},
    {UnitNames[2], &Initialization<2>, &Finalization<2>, nullptr},
};
constexpr auto Contains = ContainedUnits(Units);

constexpr TPackageDescription Description = {
    TEST_NAME,
    0,
    std::size(Requires),
    Requires,
    Contains.size(),
    Contains.data(),
    "a test package",
    {2, 3, 4, 5},
    {6, 7, 8, 9},
    0,
    nullptr,
};

constexpr TPackageInfoTable InfoTable = {PackageInfoSignature, std::size(Units), Units, &Description,
                                         nullptr};

} // namespace

PICTURA_PACKAGE_ENTRY_POINTS(InfoTable)

// What ran so far, as "init SysInit;init XMain;...".
extern "C" const char* TestPackageLog() {
    return Log().c_str();
}
