// Replays every file of a seed corpus through a fuzz entry point once, for builds without
// libFuzzer (the Windows flavour and gcc). Exits non-zero when the corpus cannot be read.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        std::filesystem::path root(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(root, ec)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(root, ec))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else if (std::filesystem::is_regular_file(root, ec)) {
            files.push_back(root);
        } else {
            std::fprintf(stderr, "no corpus at %s\n", argv[i]);
            return 2;
        }
        for (const auto &file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count ? 0 : 2;
}
