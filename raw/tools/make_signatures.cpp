// Makes the default signature file from the readable table (resources/signatures.tsv): each
// row goes through the same field encoder as a record typed by the user, and the finishes
// column becomes the finish file beside it.
//
// usage: quenlow_make_signatures TABLE SETTINGS_OUT FINISH_OUT

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "raw/Finish.h"
#include "raw/SettingsFile.h"

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, '\t')) cells.push_back(cell == "-" ? "" : cell);
    return cells;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quenlow::raw;
    if (argc != 4) {
        std::cerr << "usage: quenlow_make_signatures TABLE SETTINGS_OUT FINISH_OUT\n";
        return 2;
    }
    std::ifstream table(argv[1]);
    if (!table) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    std::string settings, finishes, line;
    int lineNumber = 0;
    bool header = true;
    while (std::getline(table, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') continue;
        if (header) {  // the column names
            header = false;
            continue;
        }
        std::vector<std::string> c = splitTabs(line);
        c.resize(11);
        SignatureFields f;
        f.extension = c[0];
        f.startSignature = c[1];
        f.endSignature = c[2];
        f.sizeOffset = c[3];
        f.sizeBytes = c[4];
        f.headerSize = c[5];
        f.sizeIncludesHeader = c[6] == "1";
        f.approximateSize = c[7];
        f.skipSize = c[8];
        f.category = c[9];
        const size_t number = settings.size() / kRecordBytes;
        EncodedFields encoded = encodeFields(f, static_cast<uint8_t>(number));
        if (!encoded.record || number > 255) {
            std::cerr << argv[1] << ":" << lineNumber << ": " << (encoded.record ? "more than 256 rows" : encoded.message)
                      << "\n";
            return 1;
        }
        if (!finishFromName(c[10])) {
            std::cerr << argv[1] << ":" << lineNumber << ": unknown finish '" << c[10] << "'\n";
            return 1;
        }
        auto bytes = encoded.record->encode();
        settings.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        finishes += (c[10].empty() ? std::string("-") : c[10]) + "\n";
    }
    // The table must load as the program will load it.
    std::vector<uint8_t> check(settings.begin(), settings.end());
    LoadedRecords loaded = parseSettings(check, true);
    if (!loaded.refusal.empty()) {
        std::cerr << argv[1] << ": " << loaded.refusal << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << settings;
    std::ofstream fin(argv[3], std::ios::trunc);
    fin << finishes;
    if (!out || !fin) {
        std::cerr << "cannot write " << argv[2] << " or " << argv[3] << "\n";
        return 1;
    }
    return 0;
}
