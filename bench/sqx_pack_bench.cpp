// Benchmark driver for the archive library.
//
//   sqx_pack_bench generate <folder> <small files> <big file MiB>
//       makes a mail store: small messages of 2-50 KB spread over folders,
//       and one large mailbox file, all mail-like text.
//   sqx_pack_bench pack <archive> <folder>
//       packs the folder with SqxAddFiles and prints the wall time and the
//       process's peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sqx/sqx.h"

namespace fs = std::filesystem;

namespace {

const char* const kWords[] = {
    "the",     "of",        "and",      "to",      "in",       "is",      "that",     "for",
    "it",      "as",        "was",      "with",    "be",       "by",      "on",       "not",
    "he",      "this",      "are",      "or",      "his",      "from",    "at",       "which",
    "but",     "have",      "an",       "had",     "they",     "you",     "were",     "meeting",
    "report",  "quarterly", "please",   "regards", "attached", "invoice", "tomorrow", "schedule",
    "project", "customer",  "delivery", "budget",  "review",   "thanks",  "question", "update",
    "team",    "Monday",    "Friday",   "office",  "contract", "order",   "account",  "password",
    "server",  "backup",    "holiday",  "summer",  "price",    "offer",   "discount", "support"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// Appends about `bytes` of text that reads (and compresses) like mail.
void appendMail(std::string& out, size_t bytes, std::mt19937& gen, unsigned serial) {
    out += "From sender" + std::to_string(gen() % 500) + "@example.com\n";
    out += "Subject: message " + std::to_string(serial) + "\n";
    out += "Message-ID: <" + std::to_string(gen()) + "." + std::to_string(gen()) + "@example>\n\n";
    size_t target = out.size() + bytes;
    size_t column = 0;
    while (out.size() < target) {
        const char* w = kWords[gen() % kWordCount];
        out += w;
        column += std::strlen(w) + 1;
        if (column > 72) {
            out += '\n';
            column = 0;
        } else {
            out += ' ';
        }
        if (gen() % 97 == 0) out += std::to_string(gen() % 100000) + ' ';
    }
    out += "\n\n";
}

int generate(const fs::path& root, unsigned smallCount, unsigned bigMiB) {
    std::mt19937 gen(12345);
    for (unsigned i = 0; i < smallCount; ++i) {
        fs::path folder = root / "Mail" / ("Folder" + std::to_string(i % 25));
        if (i < 25) fs::create_directories(folder);
        std::string text;
        appendMail(text, 2048 + gen() % (48 * 1024), gen, i);
        std::ofstream(folder / (std::to_string(1000000 + i) + ".eml"), std::ios::binary) << text;
    }
    std::ofstream big(root / "Mail" / "Inbox.mbox", std::ios::binary);
    const uint64_t bigBytes = uint64_t(bigMiB) << 20;
    uint64_t written = 0;
    std::string chunk;
    for (unsigned serial = 0; written < bigBytes; ++serial) {
        chunk.clear();
        while (chunk.size() < (1 << 20))
            appendMail(chunk, 1024 + gen() % 30000, gen, serial++);
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), bigBytes - written));
        big.write(chunk.data(), static_cast<std::streamsize>(n));
        written += n;
    }
    return big ? 0 : 1;
}

int32_t storeUnderFolderName(intptr_t, void* record) {
    auto* rec = static_cast<char*>(record);
    int32_t reason;
    std::memcpy(&reason, rec + SQX_CB_OFS_REASON, 4);
    if (reason == SQX_REASON_ADD) {
        std::string name = fs::path(rec + SQX_CB_OFS_NAME).filename().string();
        std::memset(rec + SQX_CB_OFS_NAME, 0, SQX_CB_NAME_LEN);
        std::memcpy(rec + SQX_CB_OFS_NAME, name.data(), name.size());
    }
    return 1;
}

int pack(const std::string& archive, const std::string& folder) {
    unsigned char list[SQX_FILELIST_SIZE];
    SqxInitFileList(list);
    SqxAddFileList(folder.c_str(), list);
    std::vector<unsigned char> options(SQX_AO_SIZE, 0);
    auto put = [&](size_t ofs, int32_t v) { std::memcpy(options.data() + ofs, &v, 4); };
    put(SQX_AO_OFS_SIZE, SQX_AO_SIZE);
    put(SQX_AO_OFS_LEVEL, 3);  // zlib's default level, as bsdtar uses
    put(SQX_AO_OFS_METHOD, 1);
    put(SQX_AO_OFS_RECURSE, 1);
    put(SQX_AO_OFS_ASK_VOLUME, 1);

    auto start = std::chrono::steady_clock::now();
    int32_t rc = SqxAddFiles(archive.c_str(), list, options.data(), &storeUnderFolderName, 0);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SqxDoneFileList(list);
    if (rc != SQX_OK) {
        char text[512];
        SqxGetLastError(text, sizeof text);
        std::fprintf(stderr, "SqxAddFiles failed (%d): %s\n", rc, text);
        return 1;
    }
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    std::printf("sqx: %.2f s, peak memory %.1f MiB\n", seconds, double(ru.ru_maxrss) / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "generate") == 0)
        return generate(argv[2], static_cast<unsigned>(std::atoi(argv[3])),
                        static_cast<unsigned>(std::atoi(argv[4])));
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return pack(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: %s generate <folder> <small files> <big MiB>\n"
                 "       %s pack <archive> <folder>\n",
                 argv[0], argv[0]);
    return 2;
}
