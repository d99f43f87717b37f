// A fuzz target run without the fuzzing engine: every file of the folders given, then a
// fixed number of inputs made from them by a seeded mutator (bytes flipped, set to 0x00 or
// 0xFF, cut short, grown). The tests run each target this way under their sanitizers, so
// that the corpus and its neighbours are checked on every build; the same seed gives the
// same inputs, so a failure repeats.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void mutate(std::vector<uint8_t>& input, std::mt19937_64& random) {
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
        const size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 6) {
            case 0:
                if (!input.empty()) input[at] ^= static_cast<uint8_t>(1u << (random() % 8));
                break;
            case 1:
                if (!input.empty()) input[at] = 0x00;
                break;
            case 2:
                if (!input.empty()) input[at] = 0xFF;
                break;
            case 3:
                if (!input.empty()) input[at] = static_cast<uint8_t>(random());
                break;
            case 4: input.resize(at); break;
            default:
                for (size_t n = 1 + random() % 64; n > 0; --n) input.push_back(static_cast<uint8_t>(random()));
                break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    long mutations = 200;
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mutations") == 0 && i + 1 < argc) {
            mutations = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        std::error_code error;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
            if (entry.is_regular_file()) files.push_back(entry.path());
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 2;
        }
        std::sort(files.begin(), files.end());
        for (const auto& f : files) corpus.push_back(readAll(f));
    }
    for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());
    if (corpus.empty()) corpus.emplace_back();
    std::mt19937_64 random(20261210);
    for (long m = 0; m < mutations; ++m) {
        std::vector<uint8_t> input = corpus[static_cast<size_t>(m) % corpus.size()];
        mutate(input, random);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu corpus inputs and %ld mutated inputs ran\n", corpus.size(), mutations);
    return 0;
}
