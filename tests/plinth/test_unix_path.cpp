// POSIX paths: the text algorithms on the inputs that could break them, the
// walk over leading folders, and the thin file-system operations.
#include "PlinthTestSupport.h"

#include "CoreUnixPath.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace plinth_test;

namespace {

typedef CoreUnixPath P;

// Whether a report for `code` was filed while body ran.
template <class F>
bool Reports(const std::string& code, F body)
{
    return ReportsOf(body).find("VERIFY FAILED:  code : " + code + " in ") != std::string::npos;
}

std::string Parent(const std::string& path)
{
    std::string parent = "junk";
    return P::GetPathParent(path, parent) ? parent : "<none:" + parent + ">";
}

std::string Extension(const std::string& path)
{
    std::string extension = "junk";
    return P::GetPathExtension(path, extension) ? extension : "<none:" + extension + ">";
}

TEST(UnixPathText, SlashesParentsAndNames)
{
    std::string s;
    EXPECT_TRUE(P::AddTrailingSlash(s));
    EXPECT_EQ(s, "/");
    EXPECT_FALSE(P::AddTrailingSlash(s));
    EXPECT_TRUE(P::RemoveTrailingSlash(s));
    EXPECT_EQ(s, "");
    EXPECT_FALSE(P::RemoveTrailingSlash(s));
    s = "a//";
    EXPECT_TRUE(P::RemoveTrailingSlash(s));
    EXPECT_EQ(s, "a/");

    EXPECT_EQ(Parent("/usr"), "<none:>");
    EXPECT_EQ(Parent("/usr/lib"), "/usr/");
    EXPECT_EQ(Parent("/a/b/"), "/a/");
    EXPECT_EQ(Parent("a/b"), "a/");
    EXPECT_EQ(Parent("a"), "<none:>");
    EXPECT_EQ(Parent(""), "<none:>");
    EXPECT_EQ(Parent("x/"), "<none:>");
    EXPECT_FALSE(Reports("", [] { EXPECT_EQ(Parent("/"), "<none:>"); }));
    EXPECT_EQ(Parent("//a"), "/");   // never normalised

    std::string name = "junk";
    EXPECT_FALSE(P::GetPathJustName("a", name));
    EXPECT_EQ(name, "");
    EXPECT_TRUE(P::GetPathJustName("/a/b/", name));
    EXPECT_EQ(name, "b");
    EXPECT_FALSE(P::GetPathJustName("/a", name));
    EXPECT_TRUE(Reports("!IsRootPath(path.c_str())", [&] { EXPECT_FALSE(P::GetPathJustName("//", name)); }));
}

TEST(UnixPathText, ExtensionsLookOnlyPastTheLastDot)
{
    EXPECT_TRUE(Reports("int(rfound_dot_at)>0", [] { EXPECT_EQ(Extension(".profile"), "<none:>"); }));
    EXPECT_TRUE(Reports("int(rfound_dot_at)>0", [] { EXPECT_EQ(Extension("Makefile"), "<none:>"); }));
    EXPECT_EQ(Extension("a."), "");
    EXPECT_EQ(Extension("d.x/f"), "x/f");
    EXPECT_EQ(Extension("archive.tar.gz"), "gz");
    EXPECT_TRUE(Reports("!IsRootPath(path.c_str())", [] { EXPECT_EQ(Extension("/"), "<none:>"); }));

    EXPECT_TRUE(P::HasPathExtension("a.TXT", ".txt"));
    EXPECT_TRUE(P::HasPathExtension("a.TXT", "txt"));
    EXPECT_FALSE(P::HasPathExtension("a.txt", "tx"));
    EXPECT_FALSE(P::HasPathExtension("a.tx", "txt"));
    EXPECT_FALSE(P::HasPathExtension("a.txt", nullptr));
    EXPECT_TRUE(P::HasPathExtension("a.", ""));

    EXPECT_FALSE(P::HasValidFileExtension("file"));
    EXPECT_FALSE(P::HasValidFileExtension(".hidden"));
    EXPECT_TRUE(Reports("rfound_dot_at>rfound_slash_at", [] { EXPECT_FALSE(P("d.x/f").HasExtension("x/f")); }));
    EXPECT_TRUE(P("photo.JPG").HasExtension(".jpg"));
}

TEST(UnixPathText, ReplacingExtensionsCutsOnlyTheLastOne)
{
    auto replaced = [](std::string path, const char* extension) {
        bool fOk = P::ReplacePathExtension(path, extension);
        return (fOk ? "" : "failed:") + path;
    };
    EXPECT_EQ(replaced("archive.tar.gz", "zip"), "archive.tar.zip");
    EXPECT_EQ(replaced("a.txt", "md"), "a.md");
    EXPECT_EQ(replaced("a.txt", ".md"), "a.md");
    EXPECT_EQ(replaced("file", "md"), "file.md");
    EXPECT_EQ(replaced(".bashrc", "bak"), ".bashrc.bak");
    EXPECT_TRUE(Reports("rfound_dot_at>rfound_slash_at",
                        [&] { EXPECT_EQ(replaced("dir.d/file", "md"), "dir.d/file.md"); }));
    EXPECT_TRUE(Reports("!IsRootPath(path.c_str())", [&] { EXPECT_EQ(replaced("/", "md"), "failed:/"); }));
    EXPECT_TRUE(Reports("in_extension", [&] { EXPECT_EQ(replaced("a.txt", nullptr), "failed:a.txt"); }));

    std::string path = "/";
    EXPECT_TRUE(Reports("!IsRootPath(inout_path.c_str())", [&] { EXPECT_FALSE(P::AddPathExtension(path, "x")); }));
    EXPECT_EQ(path, "/");
}

TEST(UnixPathText, QualificationOfEmptyNullAndOddTexts)
{
    EXPECT_TRUE(P::IsPartiallyQualified("a/"));
    EXPECT_FALSE(P::IsPartiallyQualified("/a/b"));
    EXPECT_TRUE(P::IsJustName("a"));
    EXPECT_FALSE(P::IsJustName(""));
    EXPECT_FALSE(P::IsJustName(nullptr));
    EXPECT_FALSE(P::IsQualified(""));
    EXPECT_TRUE(P::IsFullyQualified("//"));
    EXPECT_TRUE(P::IsRootPath("///"));
    EXPECT_FALSE(P::IsRootPath("x/"));
    EXPECT_FALSE(P::IsRootPath(nullptr));

    std::string reports = ReportsOf([] {
        EXPECT_FALSE(P::IsFullyQualified(nullptr));
        EXPECT_FALSE(P::IsQualified(nullptr));
    });
    EXPECT_NE(reports.find("VERIFY FAILED:  code : CoreUnixPath_NotNull in "), std::string::npos) << reports;
    EXPECT_NE(reports.find("/sdk/Plinth/CoreUnixPath.cpp:"), std::string::npos);
    EXPECT_NE(reports.find(" (IsFullyQualified)\n"), std::string::npos);

    P empty;
    reports = ReportsOf([&] {
        EXPECT_FALSE(empty.IsQualified());
        EXPECT_FALSE(empty.IsJustName());
    });
    EXPECT_NE(reports.find("code : !IsEmpty() in "), std::string::npos);
    EXPECT_NE(reports.find("/sdk/Plinth/CoreUnixPath_inlines.h:"), std::string::npos);
}

std::vector<std::pair<std::string, std::string>> Walk(const char* path)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    P p(path);
    std::string base, name;
    for (bool more = p.GetFirstPair(base, name); more && pairs.size() < 20; more = p.GetNextPair(base, name))
        pairs.emplace_back(base, name);
    return pairs;
}

TEST(UnixPathWalk, VisitsEachLeadingFolderAndStopsOnOddSlashes)
{
    typedef std::vector<std::pair<std::string, std::string>> Pairs;
    EXPECT_EQ(Walk("/a/b/c"), (Pairs{{"/", "a/b/c"}, {"/a/", "b/c"}, {"/a/b/", "c"}}));
    EXPECT_EQ(Walk("x/y"), (Pairs{{"x/", "y"}}));
    EXPECT_EQ(Walk("file"), (Pairs{{"./", "file"}}));
    EXPECT_EQ(Walk("a//b"), (Pairs{{"a/", "/b"}}));
    EXPECT_EQ(Walk("/"), (Pairs{{"/", ""}}));
    EXPECT_EQ(Walk("a/b/"), (Pairs{{"a/", "b/"}, {"a/b/", ""}}));
    EXPECT_TRUE(Reports("!IsEmpty()", [] { EXPECT_EQ(Walk(""), Pairs{}); }));

    // A base the walk did not make cannot run past the path.
    P short_path("a/b");
    std::string base(50, 'z'), name = "q/r";
    EXPECT_TRUE(Reports("path_length", [&] { EXPECT_FALSE(short_path.GetNextPair(base, name)); }));
    base.clear();
    EXPECT_TRUE(Reports("!IsEmpty() && (base_length>0)", [&] { EXPECT_FALSE(short_path.GetNextPair(base, name)); }));
}

struct FakeRefPath {
    const char* GetUnixPath() const { return path; }
    const char* path;
};

TEST(UnixPathValue, ConstructionFromEveryForm)
{
    P path("/tmp/x");
    EXPECT_FALSE(path.Construct(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(path.IsEmpty());

    EXPECT_TRUE(Reports("fOk = TCFString(unix_file_path).GetValue(mPath)", [&] { EXPECT_FALSE(path.Construct(CFSTR(""))); }));
    EXPECT_TRUE(Reports("unix_file_path", [&] { EXPECT_FALSE(path.Construct(static_cast<CFStringRef>(nullptr))); }));
    EXPECT_TRUE(path.Construct(CFSTR("/caf\xC3\xA9")));
    EXPECT_STREQ(path, "/caf\xC3\xA9");

    const char* spaced = "/tmp/a b%/c";
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8*>(spaced),
                                                           static_cast<CFIndex>(std::strlen(spaced)), false);
    EXPECT_TRUE(path.Construct(url));
    EXPECT_EQ(path.GetPath(), spaced);
    CFRelease(url);
    EXPECT_TRUE(Reports("unix_file_url", [&] { EXPECT_FALSE(path.Construct(static_cast<CFURLRef>(nullptr))); }));
    EXPECT_TRUE(path.IsEmpty());

    P fromRef(FakeRefPath{"/from/ref"});
    EXPECT_EQ(fromRef.GetPath(), "/from/ref");
    EXPECT_TRUE(Reports("Construct(copyOf.GetUnixPath())", [&] { fromRef = FakeRefPath{""}; }));

    P parent;
    EXPECT_TRUE(P("/a/b/c").GetParent(parent));
    EXPECT_EQ(parent.GetPath(), "/a/b/");
    EXPECT_TRUE(Reports("GetParent(parent_path)", [&] { EXPECT_FALSE(P("/a").GetParent(parent)); }));

    P copy(parent);
    EXPECT_EQ(copy.GetPath(), "/a/b/");
    EXPECT_TRUE(copy.RemoveTrailingSlash());
    EXPECT_TRUE(copy.ReplaceExtension("txt"));
    EXPECT_EQ(copy.GetPath(), "/a/b.txt");
}

TEST(UnixPathFiles, TestsDeletesLinksAndTheCurrentFolder)
{
    TempDir folder;
    std::string file = folder / "file", sub = folder / "sub";
    writeFile(file, "x");
    makeFolders(sub);
    EXPECT_TRUE(P::FileExists(file.c_str()));
    EXPECT_TRUE(P::FileExistsRead(file.c_str()));
    EXPECT_TRUE(P::FileExistsReadWrite(file.c_str()));
    EXPECT_FALSE(P::FileExists((folder / "absent").c_str()));
    EXPECT_FALSE(P::FileExists(nullptr));
    // The write test asks for reading as well: a file that can only be
    // written fails it, as does one that can only be read.
    EXPECT_TRUE(P::FileExistsWrite(file.c_str()));
    EXPECT_FALSE(P::FileExistsWrite((folder / "absent").c_str()));
    EXPECT_FALSE(P::FileExistsWrite(nullptr));
    {
        std::string writeOnly = folder / "write-only", readOnly = folder / "read-only";
        writeFile(writeOnly, "w");
        writeFile(readOnly, "r");
        ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(writeOnly.c_str(), 0222), 0);
        ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
        auto modes = [&] {
            return !P::FileExistsWrite(writeOnly.c_str()) && !P::FileExistsWrite(readOnly.c_str()) &&
                   !P::FileExistsRead(writeOnly.c_str()) && P::FileExistsRead(readOnly.c_str());
        };
        if (geteuid() != 0) {
            EXPECT_TRUE(modes());
        } else {
            // Permissions do not bind the superuser: ask as nobody.
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0)
                _exit(setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0 && modes() ? 0 : 1);
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
    }

    // The link is named by the second text and points at the first; one
    // trailing slash comes off each.
    EXPECT_TRUE(P::MakeSymbolicLinkFromTo((sub + "/").c_str(), (folder / "link/").c_str()));
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink((folder / "link").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_EQ(std::string(target), sub);
    EXPECT_FALSE(Reports("", [&] { EXPECT_FALSE(P::MakeSymbolicLinkFromTo((folder / "absent").c_str(), "x")); }));
    EXPECT_TRUE(Reports("fOk = (0==posix_result)",
                        [&] { EXPECT_FALSE(P::MakeSymbolicLinkFromTo(file.c_str(), (folder / "link").c_str())); }));

    EXPECT_TRUE(Reports("fOk = (0==unlink(in_path))", [&] { EXPECT_FALSE(P::FileDelete(sub.c_str())); }));
    EXPECT_TRUE(Reports("fOk = (0==rmdir(in_path))", [&] { EXPECT_FALSE(P::FolderDelete(file.c_str())); }));
    EXPECT_TRUE(Reports("CoreUnixPath_NotNull", [&] { EXPECT_FALSE(P::FileDelete(nullptr)); }));
    EXPECT_TRUE(P::FileDelete((folder / "link").c_str()));
    EXPECT_TRUE(P::FileDelete(file.c_str()));
    EXPECT_TRUE(P::FolderDelete(sub.c_str()));

    P before;
    ASSERT_TRUE(before.getcwd());
    EXPECT_TRUE(P(folder.path().c_str()).chdir());
    P now;
    ASSERT_TRUE(now.getcwd());
    char resolved[PATH_MAX];
    EXPECT_EQ(now.GetPath(), realpath(folder.path().c_str(), resolved));
    EXPECT_TRUE(before.chdir());
    EXPECT_TRUE(Reports("!IsEmpty()", [] { EXPECT_FALSE(P().chdir()); }));
    EXPECT_TRUE(Reports("fOk = (0==::chdir(mPath.c_str()))", [&] { EXPECT_FALSE(P(file.c_str()).chdir()); }));
}

} // namespace
