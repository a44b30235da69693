// sentrel-inspect run as a user runs it, over the generated fixture set.
#include "AppleDoubleBuilder.h"
#include "fixtures/FixtureSet.h"
#include "sys/xattr.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Outcome {
    int status = -1;
    std::string out, err;
    std::vector<json> objects() const
    {
        std::vector<json> result;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            result.push_back(json::parse(line));
        return result;
    }
};

class CommandLine : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/sentrel-cli-XXXXXX";
        s_dir = mkdtemp(pattern);
        fixtures::writeFixtureSet(s_dir);
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    static Outcome run(const std::string& arguments, const std::string& wrapper = "")
    {
        fs::path err = s_dir / "stderr.txt";
        std::string command = "cd '" + s_dir.string() + "' && " + wrapper + "'" SENTREL_INSPECT_PATH "' " + arguments +
                              " 2>'" + err.string() + "'";
        Outcome r;
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            r.out.append(buffer, n);
        int status = pclose(pipe);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(err);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return r;
    }

    // The inspector run through `wrapper` (a command prefix) in the fixture
    // folder.
    static Outcome runWrapped(const std::string& wrapper, const std::string& arguments)
    {
        return run(arguments, wrapper);
    }

    static inline fs::path s_dir;
};

TEST_F(CommandLine, JsonForBundleFatUnsignedAndText)
{
    Outcome r = run("--json DeveloperID.app fat-mixed unsigned-x86_64 plain.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<json> reports = r.objects();
    ASSERT_EQ(reports.size(), 4u);

    const json& app = reports[0];
    EXPECT_EQ(app["codesignedBundleID"], "com.sentrel.fixture.DeveloperID");
    EXPECT_EQ(app["hasCodeSignature"], true);
    EXPECT_EQ(app["credentialsDescription"], "Apple 'Developer ID' Credentials");
    EXPECT_EQ(app["publisherCA"], "Developer ID Certification Authority");
    EXPECT_EQ(app["rootCAFingerprint"], "H\"611E5B662C593A08FF58D14AE22452D198DF6C60\"");
    ASSERT_EQ(app["certificates"].size(), 3u);
    EXPECT_EQ(app["certificates"][2]["commonName"], "Apple Root CA");
    EXPECT_EQ(app["certificates"][2]["appleOfficial"], true);
    EXPECT_EQ(app["certificates"][0]["appleOfficial"], false);
    EXPECT_EQ(app["fileDescription"], "DeveloperID");
    EXPECT_FALSE(app.contains("signatureVerdict"));  // only with --verify

    const json& fat = reports[1];
    ASSERT_TRUE(fat.contains("slices"));
    int chosen = 0;
    for (const json& slice : fat["slices"])
        chosen += slice["chosen"].get<bool>();
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(fat["slices"][0]["signature"], "none");

    EXPECT_EQ(reports[2]["hasCodeSignature"], false);
    EXPECT_TRUE(reports[2]["codesignedBundleID"].is_null());
    EXPECT_TRUE(reports[3]["publisherCN"].is_null());
    EXPECT_EQ(reports[3]["codesignedEntitlementsString"], "");
    EXPECT_EQ(reports[3]["quarantined"], false);
    // Console log lines go to standard error, never into the JSON.
    EXPECT_NE(r.err.find("hasCodeSignature="), std::string::npos);
}

TEST_F(CommandLine, VerifyTellsScriptsWhetherEachSignatureIsGenuine)
{
    // Apple's public certificates beside a leaf of the fixture set's own.
    Outcome r = run("--verify --json DeveloperID.app unsigned-x86_64");
    EXPECT_EQ(r.status, 3) << r.err;
    std::vector<json> reports = r.objects();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0]["signatureIsValid"], false);
    EXPECT_EQ(reports[0]["signatureVerdict"], "Not genuine");
    EXPECT_EQ(reports[0]["signerKind"], "untrusted");
    EXPECT_NE(reports[0]["signatureProblems"].dump().find("is not signed by certificate 1"), std::string::npos)
        << reports[0]["signatureProblems"];
    EXPECT_EQ(reports[1]["signerKind"], "unsigned");
    EXPECT_NE(r.err.find("0 genuine, 2 not genuine"), std::string::npos) << r.err;

    const fs::path whole = fs::path(SENTREL_TEST_DATA) / "fetched" / "sentry-cli";
    if (!fs::exists(whole))
        GTEST_SKIP() << "run scripts/fetch-test-data.sh for the whole-binary half";
    r = run("--verify '" + whole.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Developer ID Application"), std::string::npos);
    EXPECT_NE(r.out.find("1 genuine, 0 not genuine"), std::string::npos) << r.out;
}

TEST_F(CommandLine, MissingPathIsNamedAndTheOthersStillRun)
{
    Outcome r = run("--json no-such-file plain.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no-such-file: No such file or directory"), std::string::npos);
    EXPECT_EQ(r.objects().size(), 1u);
}

TEST_F(CommandLine, UsageErrorsAndInformation)
{
    EXPECT_EQ(run("--frobnicate plain.txt").status, 2);
    EXPECT_EQ(run("").status, 2);
    Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("sentrel-inspect ", 0), 0u);
    EXPECT_NE(run("--help").out.find("--remove-quarantine"), std::string::npos);
}

// The program answers --help and --version by itself and loads the
// inspector for anything else: alone in a folder, without the inspector
// beside it, it still answers them, and says so for the rest.
TEST_F(CommandLine, OnlyAnInspectionLoadsTheInspector)
{
    // The program alone, without the module beside it.
    const fs::path bin = s_dir / "alone" / "bin";
    fs::create_directories(bin);
    fs::copy_file(SENTREL_INSPECT_PATH, bin / "sentrel-inspect", fs::copy_options::overwrite_existing);
    auto alone = [&](const std::string& arguments) {
        Outcome r;
        FILE* pipe = popen(("cd '" + s_dir.string() + "' && '" + (bin / "sentrel-inspect").string() + "' " + arguments + " 2>&1").c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            r.out.append(buffer, n);
        const int status = pclose(pipe);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    };
    EXPECT_EQ(alone("--version").out, run("--version").out);
    EXPECT_EQ(alone("--version --help -h").out, run("--help").out);   // help before version
    EXPECT_EQ(alone("--version plain.txt").out, run("--version").out);
    // Usage errors, and entries that are errors of the walk, need no inspector.
    for (const char* usage : {"--version --bogus", "", "--jobs 0 plain.txt"}) {
        EXPECT_EQ(alone(usage).status, 2) << usage;
        EXPECT_EQ(run(usage).status, 2) << usage;
    }
    const Outcome missing = alone("-- --version");   // a file named --version, which is not there
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("sentrel-inspect: --version: No such file or directory"), std::string::npos) << missing.out;
    EXPECT_EQ(missing.out.find("cannot load"), std::string::npos) << missing.out;
    // An inspection cannot go on without it, in this process or in workers;
    // it is said once.
    for (const char* inspection : {"plain.txt", "--jobs 1 .", "--jobs 2 ."}) {
        const Outcome r = alone(inspection);
        EXPECT_EQ(r.status, 1) << inspection;
        const size_t said = r.out.find("cannot load");
        EXPECT_NE(said, std::string::npos) << inspection << r.out;
        EXPECT_EQ(r.out.find("cannot load", said + 1), std::string::npos) << inspection << r.out;
    }
}

TEST_F(CommandLine, RemovesTheQuarantineAndReportsTheFileAsItNowIs)
{
    fs::path file = s_dir / "downloaded.txt";
    std::ofstream(file) << "hello\n";
    const std::string record = "0083;674f1a2b;Safari;8A8E7C44-1C5E-4A8B-9E8A-1C2D3E4F5A6B";
    ASSERT_EQ(setxattr(file.c_str(), "com.apple.quarantine", record.data(), record.size(), 0, 0), 0);
    ASSERT_EQ(setxattr(file.c_str(), "org.example.keep", "x", 1, 0, 0), 0);

    json before = run("--json downloaded.txt").objects().at(0);
    EXPECT_EQ(before["quarantined"], true);
    EXPECT_EQ(before["quarantineAgent"], "Safari");
    EXPECT_EQ(before["quarantineTimestamp"], "2024-12-03T14:48:11Z");

    Outcome removal = run("--json --remove-quarantine downloaded.txt");
    EXPECT_EQ(removal.status, 0) << removal.err;
    json after = removal.objects().at(0);
    EXPECT_EQ(after["quarantined"], false);
    EXPECT_EQ(after["extendedAttributesList"], json::array({"org.example.keep"}));

    Outcome text = run("downloaded.txt");
    EXPECT_NE(text.out.find("Quarantine\n  quarantined"), std::string::npos);
    EXPECT_NE(text.out.find("Certificates\n  (none)"), std::string::npos);
}

TEST_F(CommandLine, AnEmptyRecordIsRemovedToo)
{
    fs::path file = s_dir / "empty-record.txt";
    std::ofstream(file) << "hello\n";
    ASSERT_EQ(setxattr(file.c_str(), "com.apple.quarantine", "", 0, 0, 0), 0);
    Outcome removal = run("--json --remove-quarantine empty-record.txt");
    EXPECT_EQ(removal.status, 0) << removal.err;
    EXPECT_EQ(getxattr(file.c_str(), "com.apple.quarantine", nullptr, 0, 0, 0), -1);
    // Nothing to remove is no failure either.
    EXPECT_EQ(run("--remove-quarantine empty-record.txt").status, 0);
}

// Records outside the file's own attribute: counted in the summary, and,
// in a Flatpak-style sandbox (bubblewrap with /.flatpak-info), each named by
// a command that removes it, which is then run to see that it does.
TEST_F(CommandLine, RecordsFoundElsewhereAreCountedAndTheirSandboxCommandsRemoveThem)
{
    const std::string record = "0083;674f1a2b;Safari;8A8E7C44-1C5E-4A8B-9E8A-1C2D3E4F5A6B";
    const fs::path dir = s_dir / "elsewhere";
    fs::create_directories(dir);
    // A Samba stream beside a companion that holds only the record, and a
    // name the shell must not expand.
    const fs::path shared = dir / "share $HOME \"x\".dmg", sharedCompanion = dir / "._share $HOME \"x\".dmg";
    std::ofstream(shared) << "dmg";
    const std::string sambaName = "user.DosStream.com.apple.quarantine:$DATA";
    ASSERT_EQ(setxattr(shared.c_str(), sambaName.c_str(), record.data(), record.size(), 0, 0), 0);
    AppleDoubleBuilder onlyRecord;
    onlyRecord.attributes = {{"com.apple.quarantine", record}};
    std::ofstream(sharedCompanion, std::ios::binary) << onlyRecord.build();
    // A companion that keeps another attribute after the record is gone.
    const fs::path tagged = dir / "tagged.zip", taggedCompanion = dir / "._tagged.zip";
    std::ofstream(tagged) << "zip";
    AppleDoubleBuilder more;
    more.attributes = {{"com.apple.quarantine", record}, {"com.apple.FinderInfo.tag", "blue"}};
    std::ofstream(taggedCompanion, std::ios::binary) << more.build();

    Outcome counted = run("elsewhere/tagged.zip 'elsewhere/share $HOME \"x\".dmg' plain.txt");
    EXPECT_NE(counted.out.find("3 files, 0 signed, 0 ad-hoc, 3 unsigned, 2 quarantined, 0 errors"), std::string::npos)
        << counted.out;

    if (!fs::exists("/usr/bin/bwrap"))
        GTEST_SKIP() << "bubblewrap is not installed";
    const fs::path info = s_dir / "flatpak-info";
    std::ofstream(info) << "[Application]\nname=org.example.Inspector\n";
    const fs::path build = fs::path(SENTREL_INSPECT_PATH).parent_path().parent_path();
    const std::string sandbox = "bwrap --tmpfs / --ro-bind /usr /usr --ro-bind /etc /etc --symlink usr/lib /lib "
                                "--symlink usr/lib64 /lib64 --symlink usr/bin /bin --bind /tmp /tmp --ro-bind '" +
                                build.string() + "' '" + build.string() + "' --ro-bind '" + info.string() +
                                "' /.flatpak-info --dev /dev --proc /proc --chdir '" + s_dir.string() + "' ";
    Outcome refused = runWrapped(sandbox, "--remove-quarantine elsewhere/tagged.zip 'elsewhere/share $HOME \"x\".dmg'");
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.out.find("2 quarantined, 2 errors"), std::string::npos) << refused.out;
    EXPECT_TRUE(fs::exists(sharedCompanion));
    const std::vector<std::string> expected = {
        "sentrel-inspect: elsewhere/tagged.zip: runs in a sandbox and cannot remove the quarantine itself; run:",
        "  sentrel-inspect --remove-quarantine \"elsewhere/tagged.zip\"   # rewrites the AppleDouble file without "
        "the record",
        "sentrel-inspect: elsewhere/share $HOME \"x\".dmg: runs in a sandbox and cannot remove the quarantine itself; "
        "run:",
        "  setfattr -x \"user.DosStream.com.apple.quarantine:\\$DATA\" \"elsewhere/share \\$HOME \\\"x\\\".dmg\"",
        "  rm \"" + s_dir.string() + "/elsewhere/._share \\$HOME \\\"x\\\".dmg\""};
    std::vector<std::string> lines;
    std::istringstream err(refused.err);
    for (std::string line; std::getline(err, line);)
        if (line.rfind("sentrel-inspect: ", 0) == 0 || line.rfind("  ", 0) == 0)
            lines.push_back(line);
    EXPECT_EQ(lines, expected) << refused.err;

    // The commands for the share, run as printed, leave no record behind
    // and the companion gone.
    std::string script = "cd '" + s_dir.string() + "'";
    for (size_t i = 3; i < lines.size(); ++i)
        script += " && " + lines[i].substr(2);
    ASSERT_EQ(std::system(script.c_str()), 0) << script;
    EXPECT_FALSE(fs::exists(sharedCompanion));
    json after = run("--json 'elsewhere/share $HOME \"x\".dmg'").objects().at(0);
    EXPECT_EQ(after["quarantinedAnywhere"], false) << after["quarantineRecordSources"];
}

// What a record or a name holds reaches the terminal escaped, never raw.
TEST_F(CommandLine, TextReportEscapesWhatWouldDriveTheTerminal)
{
    const std::string name = "evil\x1B]0;title\x07\xE9.txt";
    fs::path file = s_dir / name;
    std::ofstream(file) << "x";
    const std::string record = "0083;674f1a2b;Ev\x1B[31mil\xC2\x9B\x7F;id";
    ASSERT_EQ(setxattr(file.c_str(), "com.apple.quarantine", record.data(), record.size(), 0, 0), 0);
    ASSERT_EQ(setxattr(file.c_str(), "org.example.\x1B[2J", "x", 1, 0, 0), 0);

    Outcome text = run("'" + name + "'");
    EXPECT_EQ(text.status, 0) << text.err;
    for (char c : text.out)
        EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) << int(c);
    EXPECT_EQ(text.out.find("\xC2\x9B"), std::string::npos);
    EXPECT_NE(text.out.find("Ev\\x1B[31mil\\u009B\\x7F"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("evil\\x1B]0;title\\x07\\xE9.txt"), std::string::npos);
    EXPECT_NE(text.out.find("org.example.\\x1B[2J"), std::string::npos);

    // JSON escapes controls itself; the byte that is not UTF-8 shows as \xE9.
    json report = run("--json '" + name + "'").objects().at(0);
    EXPECT_EQ(report["filePath"], (s_dir / "evil\x1B]0;title\x07\\xE9.txt").string());
    EXPECT_EQ(report["quarantineAgent"], "Ev\x1B[31mil\xC2\x9B\x7F");
    EXPECT_EQ(report["quarantined"], true);
    EXPECT_EQ(report["fileDescription"], "evil\x1B]0;title\x07\\xE9.txt");
}

TEST_F(CommandLine, TextReportShowsValuesAsTheyAre)
{
    Outcome text = run("plain.txt");
    ASSERT_EQ(text.status, 0) << text.err;
    auto line = [&](const std::string& key) {
        const size_t at = text.out.find("\n  " + key + " ");
        return at == std::string::npos ? std::string() : text.out.substr(at + 1, text.out.find('\n', at + 1) - at - 1);
    };
    // The value column starts where the path does; a single-space value
    // takes one column there.
    const std::string path = line("filePath");
    ASSERT_NE(path.find('/'), std::string::npos);
    EXPECT_EQ(line("quarantineTypeDescription").size(), path.find('/') + 1);
}

TEST_F(CommandLine, RealDeveloperIdBinaryFromAMac)
{
    const std::string gz = SENTREL_TEST_DATA "/sentry-cli-darwin-3.8.0.zeroed.gz";
    ASSERT_EQ(std::system(("gzip -dc '" + gz + "' > '" + (s_dir / "sentry-cli").string() + "'").c_str()), 0);
    Outcome r = run("--json sentry-cli");
    ASSERT_EQ(r.status, 0) << r.err;
    json report = r.objects().at(0);
    EXPECT_EQ(report["codesignedBundleID"], "sentry-cli-Darwin-universal");
    EXPECT_EQ(report["codesignedInfoDictionary"]["teamid"], "97JCY7859U");
    EXPECT_EQ(report["codesignedEntitlements"], json::object());
    EXPECT_EQ(report["publisherCN"], "Developer ID Application: GetSentry LLC (97JCY7859U)");
    EXPECT_EQ(report["publisherCNFingerprint"], "H\"CA886EB0F2EF765B26CDA592CD42DA4E9C92C916\"");
    EXPECT_EQ(report["publisherCA"], "Developer ID Certification Authority");
    EXPECT_EQ(report["publisherCAFingerprint"], "H\"3B166C3B7DC4B751C9FE2AFAB9135641E388E186\"");
    EXPECT_EQ(report["rootCA"], "Apple Root CA");
    EXPECT_EQ(report["rootCAFingerprint"], "H\"611E5B662C593A08FF58D14AE22452D198DF6C60\"");
    EXPECT_EQ(report["publisherIsVerifiedByApple"], true);
    EXPECT_EQ(report["credentialsDescription"], "Apple 'Developer ID' Credentials");
    EXPECT_EQ(report["hasActiveSecuritySandbox"], false);
    ASSERT_EQ(report["slices"].size(), 2u);
    for (const json& slice : report["slices"]) {
        if (slice["architecture"] == "arm64") {
            EXPECT_EQ(slice["identifier"], "sentry_cli-ed605fe0983d3ac0");
        }
    }
}

// A folder tree as a triage finds it: bundles, a bundle nested in another,
// thin and universal files, unsigned and text files, a quarantined file, a
// folder the inspector may not read, a symbolic link back up the tree and a
// FIFO. The inspector runs as an unprivileged user, so that the locked folder
// is locked for it too.
class TreeWalk : public CommandLine {
protected:
    static void SetUpTestSuite()
    {
        CommandLine::SetUpTestSuite();
        char pattern[] = "/tmp/sentrel-tree-XXXXXX";
        s_root = mkdtemp(pattern);
        fs::permissions(s_root, fs::perms(0755));
        s_tree = s_root / "tree";
        const fs::path tree = s_tree;
        fs::create_directories(tree / "sub" / "deeper");
        const auto copy = [](const fs::path& from, const fs::path& to) {
            fs::copy(from, to, fs::copy_options::recursive);
        };
        copy(s_dir / "DeveloperID.app", tree / "Outer.app");
        fs::create_directories(tree / "Outer.app/Contents/Library/LoginItems");
        copy(s_dir / "AdHoc.app", tree / "Outer.app/Contents/Library/LoginItems/Helper.app");
        copy(s_dir / "fat-mixed", tree / "fat-mixed");
        copy(s_dir / "Sandboxed.app", tree / "sub/Sandboxed.app");
        copy(s_dir / "adhoc-arm64", tree / "sub/adhoc-arm64");
        copy(s_dir / "unsigned-x86_64", tree / "sub/unsigned-x86_64");
        copy(s_dir / "plain.txt", tree / "sub/plain.txt");
        // An AppleDouble companion beside its file, and one whose file is gone.
        std::ofstream(tree / "sub/._plain.txt") << "companion";
        std::ofstream(tree / "sub/._gone") << "orphan";
        copy(s_dir / "devid-x86_64", tree / "sub/deeper/devid-x86_64");
        const std::string record = "0083;674f1a2b;Safari;8A8E7C44-1C5E-4A8B-9E8A-1C2D3E4F5A6B";
        setxattr((tree / "sub/plain.txt").c_str(), "com.apple.quarantine", record.data(), record.size(), 0, 0);
        fs::create_directories(tree / "locked");
        copy(s_dir / "adhoc-arm64", tree / "locked/hidden");
        fs::permissions(tree / "locked", fs::perms::none);
        fs::create_directory_symlink("..", tree / "sub/loop");
        mkfifo((tree / "fifo").c_str(), 0644);
    }
    static void TearDownTestSuite()
    {
        fs::permissions(s_tree / "locked", fs::perms(0755));
        fs::remove_all(s_root);
        CommandLine::TearDownTestSuite();
    }

    // Runs the inspector in the tree's parent folder, as nobody when this
    // runs as root; a run that hangs is ended after a minute.
    static Outcome runAsUser(const std::vector<std::string>& arguments)
    {
        const fs::path out = s_dir / "tree-out.txt", err = s_dir / "tree-err.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(s_root.c_str()) != 0)
                _exit(126);
            if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
                _exit(126);
            std::vector<char*> argv{const_cast<char*>(SENTREL_INSPECT_PATH)};
            for (const std::string& a : arguments)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            alarm(60);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream o(out), e(err);
        r.out.assign(std::istreambuf_iterator<char>(o), std::istreambuf_iterator<char>());
        r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
        return r;
    }

    // The last line of the text report, or the summary on standard error.
    static std::string summaryOf(const Outcome& r, bool json)
    {
        std::smatch m;
        static const std::regex line(R"(\d+ files?, \d+ signed, \d+ ad-hoc, \d+ unsigned, \d+ quarantined, \d+ errors?)");
        const std::string& text = json ? r.err : r.out;
        return std::regex_search(text, m, line) ? m.str() : "";
    }

    static inline fs::path s_root, s_tree;
};

TEST_F(TreeWalk, EachEntryOnceInWalkOrderWithAgreeingCounts)
{
    Outcome r = runAsUser({"--json", "--recursive", "--jobs", "1", "tree"});
    EXPECT_EQ(r.status, 1) << "the locked folder is an error: " << r.err;
    std::vector<std::string> paths;
    size_t signedFiles = 0, adHoc = 0, unsignedFiles = 0, quarantined = 0;
    for (const json& report : r.objects()) {
        paths.push_back(report["path"]);
        if (!report["certificates"].empty())
            ++signedFiles;
        else if (report["hasCodeSignature"] == true)
            ++adHoc;
        else
            ++unsignedFiles;
        quarantined += report["quarantined"] == true;
    }
    // The bundle's executable is not listed again; the bundle nested in it
    // is, right after it; the link back up the tree is not followed.
    // An AppleDouble companion goes with its file; one without is a file.
    EXPECT_EQ(paths, (std::vector<std::string>{"tree/Outer.app", "tree/Outer.app/Contents/Library/LoginItems/Helper.app",
                                               "tree/fat-mixed", "tree/sub/._gone", "tree/sub/Sandboxed.app",
                                               "tree/sub/adhoc-arm64", "tree/sub/deeper/devid-x86_64",
                                               "tree/sub/plain.txt", "tree/sub/unsigned-x86_64"}));
    EXPECT_EQ(signedFiles, 4u);
    EXPECT_EQ(adHoc, 2u);
    EXPECT_EQ(quarantined, 1u);
    EXPECT_EQ(summaryOf(r, true), "9 files, " + std::to_string(signedFiles) + " signed, 2 ad-hoc, " +
                                      std::to_string(unsignedFiles) + " unsigned, 1 quarantined, 1 error");
    EXPECT_NE(r.err.find("tree/locked: Permission denied"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tree/fifo: a FIFO, not opened"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("hidden"), std::string::npos);
}

TEST_F(TreeWalk, OneJobAndTwoJobsWriteTheSameReport)
{
    // A certificate's description holds its object's address, which differs
    // from one run to the next whatever the jobs.
    const auto withoutAddresses = [](const std::string& text) {
        return std::regex_replace(text, std::regex(R"(\(0x[0-9a-f]+\))"), "(address)");
    };
    for (const char* form : {"--json", "--recursive"}) {
        Outcome one = runAsUser({form, "--recursive", "--jobs", "1", "tree"});
        Outcome two = runAsUser({form, "--recursive", "--jobs=2", "tree"});
        EXPECT_EQ(one.status, two.status);
        EXPECT_NE(one.out.find("tree/sub/unsigned-x86_64"), std::string::npos);
        EXPECT_EQ(withoutAddresses(one.out), withoutAddresses(two.out)) << form;
        EXPECT_EQ(summaryOf(one, form == std::string("--json")), summaryOf(two, form == std::string("--json")));
    }
}

TEST_F(TreeWalk, FolderWithoutRecursionLinksFollowedAndFifoNamed)
{
    // Without --recursive a folder gives its own files and bundles only.
    Outcome flat = runAsUser({"--json", "-j2", "tree/sub"});
    EXPECT_EQ(flat.status, 0) << flat.err;
    std::vector<std::string> paths;
    for (const json& report : flat.objects())
        paths.push_back(report["path"]);
    EXPECT_EQ(paths, (std::vector<std::string>{"tree/sub/._gone", "tree/sub/Sandboxed.app", "tree/sub/adhoc-arm64",
                                               "tree/sub/plain.txt", "tree/sub/unsigned-x86_64"}));

    // Following links, the loop leads back into the tree already walked:
    // the run ends and lists nothing twice.
    Outcome followed = runAsUser({"--json", "--recursive", "--follow-links", "tree"});
    EXPECT_EQ(summaryOf(followed, true).rfind("9 files, ", 0), 0u) << followed.err;

    // A FIFO named on the command line is not opened either.
    Outcome fifo = runAsUser({"tree/fifo", "tree/sub/plain.txt"});
    EXPECT_EQ(fifo.status, 0) << fifo.err;
    EXPECT_NE(fifo.err.find("tree/fifo: a FIFO, not opened"), std::string::npos);
    EXPECT_EQ(summaryOf(fifo, false), "1 file, 0 signed, 0 ad-hoc, 1 unsigned, 1 quarantined, 0 errors");

    EXPECT_EQ(runAsUser({"--jobs", "0", "tree"}).status, 2);
}

} // namespace
