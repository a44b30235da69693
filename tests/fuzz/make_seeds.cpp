// Writes the seed corpora of the AppleDouble and quarantine-record fuzz
// targets into two folders: AppleDouble files laid out as a Mac writes them
// (with and without attributes, Finder info, resource fork), and quarantine
// records of the shapes browsers, mail and archivers leave. A third folder,
// when given, gets binary kMDItemWhereFroms property lists.
#include "AppleDoubleBuilder.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    const fs::path appleDouble = argv[1], records = argv[2];
    fs::create_directories(appleDouble);
    fs::create_directories(records);
    auto write = [](const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; };

    const std::vector<std::string> texts = {
        "0083;656e1f2a;Safari;7B2A0C3E-1111-2222-3333-444455556666",
        "0081;656e1f2a;Archive Utility;",
        "0002;00000000;Mail;",
        "01c1;65a0b3c4;Google Chrome;F1E2D3C4-0000-1111-2222-333344445555",
        "0083;;;",
        "",
    };
    std::vector<AppleDoubleBuilder> files(5);
    files[0].attributes = {{"com.apple.quarantine", texts[0]}};
    files[0].padding = 3500;
    files[1].attributes = {{"com.apple.metadata:kMDItemWhereFroms", whereFromsPlist("https://dl.example/a.zip", "https://dl.example/")},
                           {"com.apple.quarantine", texts[3]},
                           {"com.apple.lastuseddate#PS", std::string("\x10\x20\x00\x00\x00\x00\x00\x00", 8)}};
    files[2].finderInfo = "TEXTttxt" + std::string(24, '\0');
    files[3].attributes = {{"com.apple.quarantine", texts[1]}};
    files[3].resourceFork = std::string(300, 'R');
    files[4].attributes = {{"a", ""}, {"com.apple.quarantine", ""}};
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string bytes = files[i].build();
        write(appleDouble / ("mac-" + std::to_string(i)), bytes);
        // The quarantine target reads an odd first byte as "a ._ file".
        write(records / ("appledouble-" + std::to_string(i)), "\x01" + bytes);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        write(records / ("record-" + std::to_string(i)), std::string(1, '\0') + texts[i]);
        write(records / ("record-nul-" + std::to_string(i)), std::string(1, '\0') + texts[i] + std::string(1, '\0'));
    }
    if (argc == 4) {
        const fs::path plists = argv[3];
        fs::create_directories(plists);
        write(plists / "wherefroms-short", whereFromsPlist("https://a.example/x", "https://a.example/"));
        write(plists / "wherefroms-long",
              whereFromsPlist("https://downloads.example.org/releases/app-1.2.3.dmg", "https://www.example.org/download"));
    }
    return 0;
}
