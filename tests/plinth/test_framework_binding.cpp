// Binding frameworks at run time, the folders they are found in, and the
// system version.
#include "PlinthTestSupport.h"

#include "CoreBaseDLL.h"
#include "CoreSystem.h"
#include "CoreServices/CarbonCore.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

using namespace plinth_test;

namespace {

typedef T_CFBaseDLL<I_CFBundleDLL> Binding;

std::string PathOf(CFURLRef url)
{
    std::string path = "<null>";
    if (url) {
        CFBaseDLL::PathFromURL(url, path);
        CFRelease(url);
    }
    return path;
}

// <build>: the parent of the test program's folder.
std::string Prefix() { return ProgramFolder().substr(0, ProgramFolder().rfind('/')); }

TEST(FrameworkLocations, MapOntoTheProgramsFoldersAndNothingElse)
{
    EXPECT_EQ(PathOf(CFBaseDLL::URLOfNameInLocation(CFSTR("X.framework"), CFBaseDLL::kLocation_ExecutableFolder)),
              ProgramFolder() + "/X.framework");
    EXPECT_EQ(PathOf(CFBaseDLL::URLOfNameInLocation(CFSTR("System.framework"), CFBaseDLL::kLocation_SystemFrameworks)),
              Prefix() + "/lib/sentrel/Frameworks/System.framework");
    EXPECT_EQ(PathOf(CFBaseDLL::URLOfNameInLocation(CFSTR("P.framework"), CFBaseDLL::kLocation_PrivateFrameworks)),
              Prefix() + "/lib/sentrel/PrivateFrameworks/P.framework");
    EXPECT_EQ(PathOf(CFBaseDLL::URLOfNameInLocation(CFSTR("S"), CFBaseDLL::kLocation_SupportFiles)),
              Prefix() + "/share/sentrel/S");
    for (int location : {-1, 8, 9, 10, 11, 1000})
        EXPECT_EQ(PathOf(CFBaseDLL::URLOfNameInLocation(CFSTR("X"), CFBaseDLL::Location(location))), "<null>")
            << location;

    // With a subfolder, the name goes inside it.
    EXPECT_EQ(PathOf(CFBaseDLL::URLOfNameInFindFolder(CFSTR("CoreServices"), kFrameworksFolderType, kSystemDomain,
                                                      CFSTR("CoreServices.framework"))),
              Prefix() + "/lib/sentrel/Frameworks/CoreServices.framework/CoreServices");
}

TEST(FrameworkBinding, LoadsCallsAndUnloadsARealFramework)
{
    Binding system(CFSTR("System.framework"));
    EXPECT_FALSE(system.IsLoaded());
    // Nothing is loaded behind the caller's back.
    EXPECT_EQ(system.FnCall<char*>(CFSTR("getcwd"), static_cast<char*>(nullptr), size_t(0)), nullptr);

    ASSERT_TRUE(system.LoadSystemFramework());
    char buffer[4096] = {};
    EXPECT_EQ(system.FnCall<char*>(CFSTR("getcwd"), buffer, sizeof(buffer)), buffer);
    char expected[4096];
    EXPECT_STREQ(buffer, ::getcwd(expected, sizeof(expected)));

    void* const* reexports = reinterpret_cast<void* const*>(0x1);
    EXPECT_TRUE(system.GetDataPointer(CFSTR("SystemFrameworkReexports"), reexports));
    ASSERT_NE(reexports, nullptr);
    EXPECT_EQ(reexports[0], reinterpret_cast<void*>(&::getcwd));

    // A loaded binding answers at once: the new name is kept for later, the
    // location is not consulted.
    EXPECT_TRUE(system.LoadLocation(CFBaseDLL::kLocation_Resources, CFSTR("CoreServices.framework")));
    EXPECT_TRUE(system.GetName()->isEqualToString(CFSTR("CoreServices.framework")));
    int (*statusName)(OSStatus) = reinterpret_cast<int (*)(OSStatus)>(0x1);
    EXPECT_FALSE(system.GetFunctionPointer(CFSTR("GetMacOSStatusErrorString"), statusName));
    EXPECT_EQ(statusName, nullptr);

    EXPECT_TRUE(system.Unload());
    EXPECT_FALSE(system.Unload());
    EXPECT_TRUE(system.LoadSystemFramework());
    const char* (*errorString)(OSStatus) = nullptr;
    ASSERT_TRUE(system.GetFunctionPointer(CFSTR("GetMacOSStatusErrorString"), errorString));
    EXPECT_STREQ(errorString(-43), "fnfErr");
    EXPECT_EQ(system.FnCall<int>(CFSTR("NoSuchFunction"), 1, 2), 0);
}

TEST(FrameworkBinding, MissingNamesBundlesAndCodeGiveNeutralAnswers)
{
    Binding nameless;
    EXPECT_FALSE(nameless.LoadSystemFramework());
    EXPECT_FALSE(Binding(CFSTR("Absent.framework")).LoadSystemFramework());

    // A framework folder whose executable is not a shared library: the
    // bundle is made, its code does not load, and Unload leaves it alone.
    TempDir folder;
    makeFolders(folder / "Broken.framework/Resources");
    writeFile(folder / "Broken.framework/Broken", "not a shared library");
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>((folder / "Broken.framework").c_str()),
        static_cast<CFIndex>((folder / "Broken.framework").size()), true);
    Binding broken(CFSTR("Broken.framework"));
    EXPECT_FALSE(broken.LoadFromURL(url));
    EXPECT_NE(broken.GetBundle(), nullptr);
    EXPECT_FALSE(broken.IsLoaded());
    EXPECT_FALSE(broken.Unload());
    EXPECT_NE(broken.GetBundle(), nullptr);
    // Trying again replaces the kept bundle (and must not leak it).
    EXPECT_FALSE(broken.LoadFromURL(url));
    EXPECT_FALSE(broken.LoadFromURL(nullptr));
    CFRelease(url);
}

TEST(FrameworkBinding, SystemFrameworkCallsThroughTheCLibrary)
{
    TempDir place;
    char saved[4096];
    std::string before = ::getcwd(saved, sizeof(saved));
    EXPECT_EQ(SystemFramework::chdir(place.path().c_str()), 0);
    char buffer[4096];
    ASSERT_EQ(SystemFramework::getcwd(buffer, sizeof(buffer)), buffer);
    char resolved[4096];
    EXPECT_EQ(std::string(buffer), std::string(realpath(place.path().c_str(), resolved)));
    EXPECT_EQ(SystemFramework::chdir(before.c_str()), 0);

    std::string reports = ReportsOf([] { EXPECT_EQ(SystemFramework::chdir(nullptr), -1); });
    EXPECT_NE(reports.find("VERIFY FAILED:  code : in_utf8_path_string in "), std::string::npos) << reports;
    EXPECT_NE(reports.find(" (chdir)\n"), std::string::npos);

    long page = sysconf(_SC_PAGESIZE);
    void* memory = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    EXPECT_EQ(SystemFramework::mprotect(memory, page, PROT_READ), 0);
    EXPECT_EQ(SystemFramework::mprotect(reinterpret_cast<char*>(memory) + 1, page, PROT_READ), -1);   // unaligned
    munmap(memory, page);
}

TEST(SystemVersion, PacksTheKernelReleaseInOrderAndAtLeastLion)
{
    using sentrel::gestalt::packedVersionForKernelRelease;
    EXPECT_EQ(packedVersionForKernelRelease("3.0.0"), 0x1070);
    EXPECT_EQ(packedVersionForKernelRelease("3.19.8"), 0x1079);
    EXPECT_EQ(packedVersionForKernelRelease("4.4.0-210-generic"), 0x1084);
    EXPECT_EQ(packedVersionForKernelRelease("5.10.0-28-amd64"), 0x1099);
    EXPECT_EQ(packedVersionForKernelRelease("6.1.0-18-amd64"), 0x1099);
    EXPECT_EQ(packedVersionForKernelRelease("99999999999999999999.1"), 0x1099);
    EXPECT_EQ(packedVersionForKernelRelease("2.6.32"), 0x1066);
    for (const char* junk : {"", "6", "6.", ".1", "v6.1", "x"})
        EXPECT_EQ(packedVersionForKernelRelease(junk), 0) << junk;
    EXPECT_EQ(packedVersionForKernelRelease(nullptr), 0);

    const char* releases[] = {"2.6.39", "3.0", "3.9", "3.10", "4.0", "4.19", "5.0", "5.15", "6.0", "6.8"};
    for (size_t i = 1; i < std::size(releases); ++i)
        EXPECT_LE(packedVersionForKernelRelease(releases[i - 1]), packedVersionForKernelRelease(releases[i]))
            << releases[i];

    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(CoreSystem::GetVersion(), packedVersionForKernelRelease(names.release));
    EXPECT_TRUE(CoreSystem::IsAtLeast(0x1070));
    EXPECT_FALSE(CoreSystem::IsEarlierThanRevision(0x1070));
    EXPECT_EQ(CoreSystem::IsEarlierThanRevision(CoreSystem::GetVersion()), false);
    EXPECT_EQ(CoreSystem::IsAtLeast(CoreSystem::GetVersion() + 1), false);

    SInt32 response = 0;
    EXPECT_EQ(Gestalt(0x74657374 /* 'test' */, &response), gestaltUndefSelectorErr);
    EXPECT_EQ(Gestalt(gestaltSystemVersion, nullptr), paramErr);
}

TEST(SystemVersion, SystemFrameworkHasFunctionLoadsOnlyToAsk)
{
    EXPECT_TRUE(CoreSystem::SystemFrameworkHasFunction(CFSTR("CoreServices.framework"), CFSTR("GetMacOSStatusCommentString")));
    EXPECT_FALSE(CoreSystem::SystemFrameworkHasFunction(CFSTR("CoreServices.framework"), CFSTR("NoSuchFunction")));
    EXPECT_FALSE(CoreSystem::SystemFrameworkHasFunction(CFSTR("Absent.framework"), CFSTR("getcwd")));
}

TEST(Folders, UserFoldersFollowXdgAndAreMadeOnlyWhenAsked)
{
    TempDir home;
    std::string savedHome = getenv("HOME") ? getenv("HOME") : "", savedState = getenv("XDG_STATE_HOME") ? getenv("XDG_STATE_HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    FSRef ref = {};
    for (const char* relative : {"relative/state", ""}) {
        setenv("XDG_STATE_HOME", relative, 1);
        EXPECT_EQ(FSFindFolder(kUserDomain, kLogsFolderType, kDontCreateFolder, &ref), fnfErr);
        EXPECT_FALSE(exists(home / ".local/state/log"));
    }
    EXPECT_EQ(FSFindFolder(kUserDomain, kLogsFolderType, kCreateFolder, &ref), noErr);
    struct stat st;
    ASSERT_EQ(stat((home / ".local/state/log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    UInt8 path[1024];
    ASSERT_EQ(FSRefMakePath(&ref, path, sizeof(path)), noErr);
    char resolved[4096];
    EXPECT_STREQ(reinterpret_cast<char*>(path), realpath((home / ".local/state/log").c_str(), resolved));

    // A file where the folder should be is not a folder.
    setenv("XDG_STATE_HOME", (home / "file-state").c_str(), 1);
    makeFolders(home / "file-state");
    writeFile(home / "file-state/log", "");
    EXPECT_EQ(FSFindFolder(kUserDomain, kLogsFolderType, kDontCreateFolder, &ref), errFSNotAFolder);

    EXPECT_EQ(FSFindFolder(kUserDomain, kQuickTimeComponentsFolderType, kCreateFolder, &ref), fnfErr);
    EXPECT_EQ(FSFindFolder(kSystemDomain, kLogsFolderType, kDontCreateFolder, &ref), fnfErr);
    EXPECT_EQ(FSFindFolder(kUserDomain, kLogsFolderType, kDontCreateFolder, nullptr), paramErr);

    setenv("HOME", savedHome.c_str(), 1);
    setenv("XDG_STATE_HOME", savedState.c_str(), 1);
}

TEST(Folders, CatalogInfoAnswersOnlyForReferencesThatStillHold)
{
    TempDir folder;
    writeFile(folder / "file", "12345");
    FSRef ref = {};
    FSCatalogInfo info = {};
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoCreateDate, &info, nullptr, nullptr, nullptr), paramErr);
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((folder / "file").c_str()), &ref, nullptr), noErr);
    HFSUniStr255 name = {};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoCreateDate | kFSCatInfoNodeFlags | kFSCatInfoDataSizes, &info, &name,
                               nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
    EXPECT_EQ(info.dataLogicalSize, 5u);
    // Seconds since 1904: today is well past 2001 (3029529600).
    EXPECT_GT((uint64_t(info.createDate.highSeconds) << 32) | info.createDate.lowSeconds, 3029529600u);
    EXPECT_EQ(std::u16string(name.unicode, name.length), u"file");

    // Replaced by another file of the same name: the reference no longer holds.
    writeFile(folder / "replacement", "new");
    ASSERT_EQ(rename((folder / "replacement").c_str(), (folder / "file").c_str()), 0);
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoCreateDate, &info, nullptr, nullptr, nullptr), fnfErr);
}

TEST(StatusNames, CodesOutsideTheTableGetEmptyTextsNeverNull)
{
    for (OSStatus unknown : {1, -1, -67038, INT32_MIN, INT32_MAX}) {
        EXPECT_STREQ(GetMacOSStatusErrorString(unknown), "") << unknown;
        EXPECT_STREQ(GetMacOSStatusCommentString(unknown), "") << unknown;
    }
    EXPECT_STREQ(GetMacOSStatusErrorString(-67901), "errSecCertificateValidityPeriodTooLong");   // first entry
    EXPECT_STREQ(GetMacOSStatusErrorString(0), "noErr");                                         // last entry
}

TEST(Bundles, FrameworkBundlesFindTheirExecutableAndMainBundleItsPrefix)
{
    std::string frameworkPath = Prefix() + "/lib/sentrel/Frameworks/CoreServices.framework";
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8*>(frameworkPath.c_str()),
                                                           static_cast<CFIndex>(frameworkPath.size()), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(CFGetTypeID(bundle), CFBundleGetTypeID());
    EXPECT_EQ(PathOf(CFBundleCopyExecutableURL(bundle)), frameworkPath + "/CoreServices");
    EXPECT_EQ(PathOf(CFBundleCopyPrivateFrameworksURL(bundle)), frameworkPath + "/Frameworks");
    EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("GetMacOSStatusErrorString")), nullptr);
    ASSERT_TRUE(CFBundleLoadExecutable(bundle));
    EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle));
    EXPECT_NE(CFBundleGetFunctionPointerForName(bundle, CFSTR("GetMacOSStatusErrorString")), nullptr);
    EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("")), nullptr);
    CFBundleUnloadExecutable(bundle);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle));
    CFRelease(bundle);

    CFBundleRef main = CFBundleGetMainBundle();
    EXPECT_EQ(PathOf(CFBundleCopyExecutableURL(main)), ProgramFolder() + "/test_plinth");
    EXPECT_EQ(PathOf(CFBundleCopyBuiltInPlugInsURL(main)), Prefix() + "/lib/sentrel/PlugIns");
    EXPECT_EQ(PathOf(CFBundleCopySharedFrameworksURL(main)), Prefix() + "/lib/sentrel/SharedFrameworks");
    EXPECT_EQ(CFBundleCreate(nullptr, nullptr), nullptr);
}

} // namespace
