// Runs the fuzz target over files without the fuzzer: each argument is a file
// or a directory whose regular files are fed, one by one, to
// LLVMFuzzerTestOneInput. A fault aborts inside the target; otherwise the
// driver prints how many inputs it ran and exits 0.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool run_file(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(f);
    // An empty vector's data() may be NULL; the fuzzer never passes NULL.
    static const uint8_t empty = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
    return true;
}

int main(int argc, char* argv[])
{
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "fuzz_regress: cannot open %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            runs += run_file(argv[i]);
            continue;
        }
        DIR* dir = opendir(argv[i]);
        if (!dir) {
            std::fprintf(stderr, "fuzz_regress: cannot read %s\n", argv[i]);
            return 1;
        }
        while (dirent* entry = readdir(dir)) {
            std::string path = std::string(argv[i]) + "/" + entry->d_name;
            if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                runs += run_file(path);
        }
        closedir(dir);
    }
    std::printf("fuzz_regress: %d inputs, no fault\n", runs);
    return 0;
}
