// Runs a fuzz target over every file of its corpus folder, so that the normal build's tests
// replay each seed and every input that once made a target fail. A missing or empty folder
// fails: a replay of nothing would pass while proving nothing. So does an input that runs for
// longer than a generous limit, as libFuzzer's -timeout would: seeds that once hung stay proven.
//
//   <target> <corpus folder> [more folders or files...]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Far above what any input takes, even in a sanitizer build on a busy machine.
const std::chrono::seconds inputTimeLimit(20);

bool Replay(const boost::filesystem::path& file)
{
    std::ifstream in(file.string(), std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // A copy of exactly its size, so that a read past the end is caught as the fuzzer would.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    const auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    const auto took = std::chrono::steady_clock::now() - start;
    if (took > inputTimeLimit) {
        std::fprintf(stderr, "%s ran for %lld ms, past the limit of %lld s\n",
                     file.string().c_str(),
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                     static_cast<long long>(inputTimeLimit.count()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = boost::filesystem;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus folder or file>...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        boost::system::error_code ec;
        if (fs::is_regular_file(path, ec)) {
            if (!Replay(path))
                return 1;
            ++replayed;
            continue;
        }
        if (!fs::is_directory(path, ec)) {
            std::fprintf(stderr, "no corpus at %s\n", path.string().c_str());
            return 1;
        }
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(path))
            if (fs::is_regular_file(entry.path()))
                files.push_back(entry.path());
        if (files.empty()) {
            std::fprintf(stderr, "corpus %s is empty\n", path.string().c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (!Replay(file))
                return 1;
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
