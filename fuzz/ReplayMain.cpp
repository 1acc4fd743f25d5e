// Stand-in for the fuzzing engine in builds without libFuzzer: runs every file
// named on the command line, and every file in every folder named there, through
// the target once, in name order, so a checked-in corpus replays as a test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool runFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "running %s (%zu bytes)\n", path.string().c_str(), bytes.size());
    // A copy of exactly the input's size, so reads past its end are caught by
    // AddressSanitizer as they are under the engine.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t runs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!arg.empty() && arg[0] == '-') {
            continue;  // engine options (-runs=0, ...) mean nothing here
        }
        const std::filesystem::path path(arg);
        if (std::filesystem::is_directory(path)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                ok = runFile(file) && ok;
                ++runs;
            }
        } else {
            ok = runFile(path) && ok;
            ++runs;
        }
    }
    std::fprintf(stderr, "%zu inputs run\n", runs);
    return ok && runs > 0 ? 0 : 1;
}
