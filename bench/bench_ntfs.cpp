// Parses an NTFS image with the ntfs parser and walks its whole tree, as `ls -R` does: for
// every entry its path, kind, deleted mark, size and texts. Optionally saves every live
// file below the root into a folder, or one file given by its path, or searches the names.
//
//   bench_ntfs IMAGE [--start SECTOR] [--list FILE] [--save DIR] [--file PATH --out DIR]
//              [--search PATTERN]
//
// Timings go to standard error as "parse_s=... list_s=... save_s=... entries=...".

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/FileReadSeek.h"
#include "support/ParserHarness.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "recovery/NameSearch.h"
#include "recovery/ParseCompletion.h"

using namespace quenlow;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Names from the disk are used only when they are plain names.
bool plainName(const std::string& n) {
    return !n.empty() && n != "." && n != ".." && n.find('/') == std::string::npos &&
           n.find('\0') == std::string::npos;
}

struct Walker {
    fs::ntfs& parser;
    FILE* list = nullptr;
    std::string saveDir;
    uint64_t entries = 0, saved = 0, failed = 0;

    void visit(fs::EntryRef e, const std::string& path, bool inOrphans) {
        ++entries;
        bool folder = parser.isFolder(e);
        if (list != nullptr) {
            fs::EntryTexts t = parser.entryTexts(e);
            std::fprintf(list, "%c\t%d\t%d\t%lld\t%s\t%s\t%s\t%s\t%s\n", folder ? 'd' : 'f',
                         parser.isDeleted(e) ? 1 : 0, inOrphans ? 1 : 0,
                         static_cast<long long>(parser.dataSize(e)), t.created.c_str(), t.accessed.c_str(),
                         t.modified.c_str(), t.attributes.c_str(), path.c_str());
        }
        if (!saveDir.empty() && !inOrphans && !parser.isDeleted(e) && plainName(parser.name(e))) {
            std::string out = saveDir + "/" + path;
            if (folder) {
                std::filesystem::create_directories(out);
            } else if (!parser.skipWhenSaving(e)) {
                std::string error;
                if (test::saveEntryTo(parser, e, out, error)) ++saved;
                else ++failed;
            }
        }
        if (!folder || parser.name(e) == ".") return;
        for (fs::EntryRef c = parser.firstChild(e); c != fs::kNoEntry; c = parser.nextSibling(c))
            visit(c, path + "/" + parser.name(c), inOrphans);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_ntfs IMAGE [--start SECTOR] [--list FILE] [--save DIR] "
                             "[--file PATH --out DIR]\n");
        return 2;
    }
    std::string image = argv[1], listPath, saveDir, filePath, outDir, pattern;
    int64_t start = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--start") start = std::stoll(argv[i + 1]);
        else if (a == "--list") listPath = argv[i + 1];
        else if (a == "--save") saveDir = argv[i + 1];
        else if (a == "--file") filePath = argv[i + 1];
        else if (a == "--out") outDir = argv[i + 1];
        else if (a == "--search") pattern = argv[i + 1];
    }
    disk::FileReadSeek reader;
    if (!reader.open(image)) {
        std::fprintf(stderr, "bench_ntfs: %s\n", reader.lastError().c_str());
        return 1;
    }
    volumes::VolumeRecord volume;
    volume.fileSystem = "NTFS";
    volume.startSector = start;
    volume.volumeSizeText = std::to_string(reader.sizeBytes() / 1048576) + "   MB";
    fs::MemoryTree tree;
    fs::ntfs parser(test::setupOn(reader, volume, tree));

    auto t0 = Clock::now();
    test::parseIn(parser);
    double parseSeconds = since(t0);

    Walker w{parser, nullptr, {}, 0, 0, 0};
    if (!listPath.empty()) w.list = std::fopen(listPath.c_str(), "w");
    w.saveDir = saveDir;
    auto t1 = Clock::now();
    if (!listPath.empty() || !saveDir.empty()) {
        for (fs::EntryRef e : parser.firstLevel()) {
            std::string n = parser.name(e);
            w.visit(e, n, n == "ORPHAN_ENTRY");
        }
    }
    double walkSeconds = since(t1);
    if (w.list != nullptr) std::fclose(w.list);

    double saveSeconds = 0;
    if (!filePath.empty() && !outDir.empty()) {
        // Find the file by its '/'-separated path.
        fs::EntryRef cur = fs::kNoEntry;
        std::vector<fs::EntryRef> level = parser.firstLevel();
        size_t pos = 0;
        while (true) {
            size_t slash = filePath.find('/', pos);
            std::string part = filePath.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
            cur = fs::kNoEntry;
            for (fs::EntryRef e : level)
                if (parser.name(e) == part) cur = e;
            if (cur == fs::kNoEntry || slash == std::string::npos) break;
            level.clear();
            for (fs::EntryRef c = parser.firstChild(cur); c != fs::kNoEntry; c = parser.nextSibling(c))
                level.push_back(c);
            pos = slash + 1;
        }
        if (cur == fs::kNoEntry) {
            std::fprintf(stderr, "bench_ntfs: %s not found\n", filePath.c_str());
            return 1;
        }
        auto t2 = Clock::now();
        std::string error;
        if (!test::saveEntryTo(parser, cur, outDir + "/" + parser.name(cur), error)) {
            std::fprintf(stderr, "bench_ntfs: %s\n", error.c_str());
            return 1;
        }
        saveSeconds = since(t2);
    }
    double searchSeconds = 0;
    int64_t matches = 0;
    if (!pattern.empty()) {
        // As after a parse: the first level with its placeholders, then one search.
        recovery::addPlaceholderChildren(tree, parser);
        WorkControl control;
        recovery::NameSearch search(tree, parser, control);
        auto t3 = Clock::now();
        search.run(pattern, silentFeedback(), {});
        searchSeconds = since(t3);
        matches = search.matches();
    }
    std::fprintf(stderr, "parse_s=%.3f walk_s=%.3f save_s=%.3f search_s=%.4f matches=%lld records=%zu entries=%llu "
                 "saved=%llu failed=%llu\n",
                 parseSeconds, walkSeconds, saveSeconds, searchSeconds, static_cast<long long>(matches),
                 parser.entries().size(),
                 static_cast<unsigned long long>(w.entries), static_cast<unsigned long long>(w.saved),
                 static_cast<unsigned long long>(w.failed));
    return 0;
}
