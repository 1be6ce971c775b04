// Runs a fuzz target over its seed corpus and its kept regression inputs, in the ordinary
// builds, where there is no libFuzzer: every file named, or found in a folder named, is one
// input. Fails when an input fails, or when there is no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return; // a target without regression inputs has no folder for them
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.')
            collect(path + "/" + e->d_name, files);
    closedir(dir);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        collect(argv[i], files);
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        const std::string input = s.str();
        std::fprintf(stderr, "replay %s (%zu bytes)\n", f.c_str(), input.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return files.empty() ? 1 : 0;
}
