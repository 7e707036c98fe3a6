// Walks a tree of 100,000 files in 5,000 folders on a private machine with the
// file search, and times `find DIR -iname '*.pce'` on the same tree. The search
// should cost at most 1.5 times what find costs.
//
//   file_search_bench [runs]      (default 5 runs of each, after one warm-up)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "support/file_search.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTop = 8, kMid = 24, kLeaf = 25;  // 8 + 8*24 + 8*24*25 = 5,000 folders
constexpr int kFilesPerFolder = 20;             // 100,000 files, 20,000 of them *.pce

void makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::exit(2);
    }
}

void makeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
    ::close(fd);
}

// Twenty files of mixed names and letter case, four of them *.pce (or *.PCE).
void fillFolder(const std::string& dir, int serial, std::vector<std::string>& winFolders,
                const std::string& winDir) {
    winFolders.push_back(winDir);
    static const char* const ext[] = {".txt", ".mbx", ".IDX", ".pce", ".toc",
                                      ".dat", ".Msg", ".ini", ".bak", ".PCE"};
    for (int f = 0; f < kFilesPerFolder; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%05d-%02d%s", (f % 3) ? "msg" : "Mail", serial, f,
                      ext[f % 10]);
        makeFile(dir + "/" + name);
    }
}

// Returns the Windows paths of every folder (with a trailing backslash).
std::vector<std::string> buildTree(const std::string& hostRoot, const std::string& winRoot) {
    std::vector<std::string> folders;
    makeDir(hostRoot);
    int serial = 0;
    for (int t = 0; t < kTop; ++t) {
        const std::string tName = "Account" + std::to_string(t);
        const std::string tHost = hostRoot + "/" + tName, tWin = winRoot + tName + "\\";
        makeDir(tHost);
        fillFolder(tHost, serial++, folders, tWin);
        for (int m = 0; m < kMid; ++m) {
            const std::string mName = "Folder" + std::to_string(m);
            const std::string mHost = tHost + "/" + mName, mWin = tWin + mName + "\\";
            makeDir(mHost);
            fillFolder(mHost, serial++, folders, mWin);
            for (int l = 0; l < kLeaf; ++l) {
                const std::string lName = "sub" + std::to_string(l);
                const std::string lHost = mHost + "/" + lName, lWin = mWin + lName + "\\";
                makeDir(lHost);
                fillFolder(lHost, serial++, folders, lWin);
            }
        }
    }
    return folders;
}

struct Timing {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds
    long count = 0;   // matches
};

double cpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

double selfCpu() {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return cpuSeconds(r);
}

// Runs find, counting the lines it prints.
Timing timeFind(const std::string& dir) {
    int out[2];
    if (::pipe(out) != 0) std::exit(2);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execlp("find", "find", dir.c_str(), "-iname", "*.pce", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    long lines = 0;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0)
        lines += std::count(buf, buf + n, '\n');
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "find failed\n");
        std::exit(2);
    }
    return {secs, cpuSeconds(usage), lines};
}

Timing timeSearch(const std::string& pattern) {
    qb::TFileSearch& search = qb::FileSearch1();
    search.SearchFile = pattern;
    qb::ClearFoundFolders();
    const double cpu = selfCpu();
    const auto start = Clock::now();
    search.Execute();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    return {secs, selfCpu() - cpu, qb::FoundFolderCount()};
}

template <class F>
Timing timeIt(F&& f) {
    const double cpu = selfCpu();
    const auto start = Clock::now();
    f();
    return {std::chrono::duration<double>(Clock::now() - start).count(), selfCpu() - cpu, 0};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Summary {
    double wall, bestWall, cpu;
};

Summary summarise(const std::vector<Timing>& t) {
    std::vector<double> wall, cpu;
    for (const Timing& x : t) {
        wall.push_back(x.wall);
        cpu.push_back(x.cpu);
    }
    return {median(wall), *std::min_element(wall.begin(), wall.end()), median(cpu)};
}

void print(const char* what, const Summary& s) {
    std::printf("%-24s wall median %7.1f ms, best %7.1f ms; cpu median %7.1f ms\n", what,
                s.wall * 1e3, s.bestWall * 1e3, s.cpu * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/qb-search-bench-XXXXXX";
    if (!::mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path prefix = fs::path(base) / "prefix";
    qb::platform::Machine::createPrefix(prefix, "bench");
    qb::platform::Machine::use(prefix);

    const std::string winRoot = "C:\\users\\bench\\Mail\\";
    const auto hostRoot = qb::platform::hostPath(winRoot);
    if (!hostRoot) {
        std::fprintf(stderr, "no host path for %s\n", winRoot.c_str());
        return 2;
    }
    std::string hostDir = hostRoot->string();
    while (hostDir.size() > 1 && hostDir.back() == '/')
        hostDir.pop_back();

    std::printf("building %d folders with %d files each under %s ...\n",
                kTop * (1 + kMid * (1 + kLeaf)), kFilesPerFolder, hostDir.c_str());
    const std::vector<std::string> folders = buildTree(hostDir, winRoot);

    // Warm-up (page cache, dentries) and a check that both find the same.
    const long findCount = timeFind(hostDir).count;
    const long searchCount = timeSearch(winRoot + "*.pce").count;
    std::printf("matches: find %ld, search %ld\n", findCount, searchCount);
    if (findCount != searchCount) {
        std::fprintf(stderr, "the search and find disagree\n");
        return 1;
    }

    std::vector<Timing> findTimes, searchTimes, listTimes, mapTimes;
    for (int i = 0; i < runs; ++i) {
        findTimes.push_back(timeFind(hostDir));
        searchTimes.push_back(timeSearch(winRoot + "*.pce"));
        // Where the search's time goes: the directory listings alone, and the
        // mapping of Windows paths to host paths alone.
        listTimes.push_back(timeIt([&] {
            for (const std::string& f : folders)
                (void)qb::platform::findFiles(f + "*", qb::platform::faAnyFile);
        }));
        mapTimes.push_back(timeIt([&] {
            for (const std::string& f : folders)
                (void)qb::platform::hostPath(f);
        }));
    }

    const Summary find = summarise(findTimes), search = summarise(searchTimes);
    print("find -iname '*.pce'", find);
    print("TFileSearch *.pce", search);
    print("  findFiles alone", summarise(listTimes));
    print("  hostPath alone", summarise(mapTimes));
    std::printf("(%zu folders listed once each)\n", folders.size());
    const double wallRatio = search.wall / find.wall, cpuRatio = search.cpu / find.cpu;
    std::printf("ratio search/find: wall %.2f, cpu %.2f (target at most 1.50): %s\n", wallRatio,
                cpuRatio, std::min(wallRatio, cpuRatio) <= 1.5 ? "met" : "NOT met");

    std::error_code ec;
    fs::remove_all(base, ec);
    return 0;
}
