// Walks a large folder tree through findFiles, the way client scanners look for
// mail stores, and times it against `find DIR -iname '*.pce'` on the same tree.
//
//   find_bench [--folders N] [--files N] [--runs N] [--keep | --reuse DIR]
//
// --keep leaves the tree for later runs; --reuse DIR walks a kept tree again
// (building 100,000 files takes long on some file systems).
// The tree is built in a fresh prefix below $TMPDIR: N folders (a tenth of them at
// the top, the rest one level down) sharing the files evenly, two in five of them
// "*.pce" in mixed case. Both walks run once to warm the caches, then --runs times;
// the medians are compared.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"

namespace fs = std::filesystem;
using namespace qb::platform;

namespace {

struct Options {
    int folders = 5000;
    int files = 100000;
    int runs = 5;
    bool keep = false;
    std::string reuse;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() {
            if (i + 1 >= argc) {
                std::cerr << "find_bench: " << a << " needs a value\n";
                std::exit(2);
            }
            return std::atoi(argv[++i]);
        };
        if (a == "--folders")
            o.folders = next();
        else if (a == "--files")
            o.files = next();
        else if (a == "--runs")
            o.runs = next();
        else if (a == "--keep")
            o.keep = true;
        else if (a == "--reuse" && i + 1 < argc)
            o.reuse = argv[++i];
        else {
            std::cerr << "usage: find_bench [--folders N] [--files N] [--runs N] "
                         "[--keep | --reuse DIR]\n";
            std::exit(2);
        }
    }
    o.folders = std::max(o.folders, 1);
    o.runs = std::max(o.runs, 1);
    return o;
}

// Builds the tree; returns how many "*.pce" files it holds.
size_t buildTree(const fs::path& root, const Options& o) {
    const int top = std::max(1, o.folders / 10);
    std::vector<fs::path> folders;
    for (int t = 0; t < top; ++t)
        folders.push_back(root / ("Store " + std::to_string(t)));
    for (int i = top; i < o.folders; ++i)
        folders.push_back(folders[static_cast<size_t>(i % top)] / ("Folder" + std::to_string(i)));
    for (const fs::path& f : folders)
        fs::create_directories(f);
    static const char* const kinds[] = {".pce", ".PCE", ".idx", ".txt", ""};
    size_t pce = 0;
    for (int n = 0; n < o.files; ++n) {
        const char* ext = kinds[n % 5];
        const fs::path file =
            folders[static_cast<size_t>(n % o.folders)] / ("msg" + std::to_string(n) + ext);
        std::ofstream(file).put('x');
        if (n % 5 < 2) ++pce;
    }
    return pce;
}

size_t walk(const std::string& folder) {
    size_t found = 0;
    for (const SearchRec& r : findFiles(folder + "\\*.*", faDirectory)) {
        if ((r.attr & faDirectory) && r.name != "." && r.name != "..")
            found += walk(folder + "\\" + r.name);
    }
    found += findFiles(folder + "\\*.pce", 0).size();
    return found;
}

// The same search with one listing per folder, the mask applied to its names.
size_t walkOnce(const std::string& folder) {
    size_t found = 0;
    for (const SearchRec& r : findFiles(folder + "\\*.*", faDirectory)) {
        if (!(r.attr & faDirectory)) {
            if (matchesMask(r.name, "*.pce")) ++found;
        } else if (r.name != "." && r.name != "..") {
            found += walkOnce(folder + "\\" + r.name);
        }
    }
    return found;
}

size_t runFind(const fs::path& root) {
    const std::string cmd = "find '" + root.string() + "' -iname '*.pce'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        std::perror("popen");
        std::exit(1);
    }
    size_t lines = 0;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        lines += static_cast<size_t>(std::count(buf, buf + n, '\n'));
    ::pclose(p);
    return lines;
}

template <typename F>
double seconds(F f, size_t& result) {
    const auto start = std::chrono::steady_clock::now();
    result = f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    fs::path base = o.reuse;
    if (base.empty()) {
        std::string templ = (fs::temp_directory_path() / "qbbench-XXXXXX").string();
        if (!::mkdtemp(templ.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        base = templ;
        Machine::createPrefix(base / "prefix", "bench");
    }
    const fs::path prefix = base / "prefix";
    Machine::use(prefix);
    const fs::path root = prefix / "drive_c" / "Mail";
    const std::string winRoot = windowsPath(root);

    size_t expected = 0;
    if (o.reuse.empty()) {
        std::cout << "building " << o.folders << " folders, " << o.files << " files in " << root
                  << " ...\n";
        expected = buildTree(root, o);
    } else {
        expected = runFind(root);
    }

    size_t got = 0;
    seconds([&] { return walk(winRoot); }, got);  // warm-up
    seconds([&] { return runFind(root); }, got);
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> once;
    size_t ourCount = 0;
    size_t findCount = 0;
    size_t onceCount = 0;
    for (int r = 0; r < o.runs; ++r) {
        ours.push_back(seconds([&] { return walk(winRoot); }, ourCount));
        theirs.push_back(seconds([&] { return runFind(root); }, findCount));
        once.push_back(seconds([&] { return walkOnce(winRoot); }, onceCount));
    }
    const double a = median(ours);
    const double b = median(theirs);
    const double c = median(once);
    std::printf("findFiles walk (*.* then *.pce): %8.3f s  (%zu *.pce)\n", a, ourCount);
    std::printf("find -iname '*.pce':             %8.3f s  (%zu *.pce)\n", b, findCount);
    std::printf("ratio:                           %8.2f  (target <= 1.50)\n", a / b);
    std::printf("findFiles walk, one listing:     %8.3f s  (ratio %.2f)\n", c, c / b);
    int status = 0;
    if (ourCount != expected || findCount != expected || onceCount != expected) {
        std::printf("MISMATCH: expected %zu files\n", expected);
        status = 1;
    }
    if (o.keep || !o.reuse.empty()) {
        std::cout << "tree kept in " << base << "\n";
    } else {
        std::error_code ec;
        fs::remove_all(base, ec);
    }
    return status;
}
