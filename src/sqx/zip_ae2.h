// Protected entries in the AE-2 form of WinZip AES: the CRC-32 field of every
// encrypted entry is 0, and the data is vouched for by the entry's HMAC alone.
// A CRC of the plaintext would let anyone test password guesses against a small
// file whose content is known, without the password.
//
// libarchive writes AE-1 (with the CRC) for entries of 20 bytes and more. The
// rewriter sits between its ZIP writer and the output and turns every AE-1
// entry into AE-2 as the bytes pass: the vendor version in the AES extra field
// of the local and the central header becomes 2, and the CRC fields of the local
// header, the data descriptor and the central header become 0. The encrypted data
// and its HMAC stay as they are (the HMAC covers the encrypted data only).
//
// The writer tells the rewriter which part of the archive comes next; only the
// headers, the end of each entry and the central directory are held back, the
// entry data passes straight through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sqx {

class Ae2Rewriter {
  public:
    enum class Part {
        None,
        LocalHeader,  // a local header and what follows it up to the entry data
        Data,         // the entry's data
        EntryEnd,     // the rest of the entry's data, its HMAC and data descriptor
        Central,      // central directory and end records
    };
    using Sink = std::function<void(const void*, size_t)>;

    explicit Ae2Rewriter(Sink sink) : sink_(std::move(sink)) {}

    // Ends the current part (rewriting and passing it on) and begins `next`.
    // Throws Failure when a part is not what a ZIP writer produces.
    void begin(Part next);
    void write(const void* data, size_t size);

  private:
    void endLocalHeader();
    void endEntry();
    void endCentral();

    Sink sink_;
    Part part_ = Part::None;
    std::vector<unsigned char> held_;
    // The entry being written.
    std::string name_;
    bool encrypted_ = false;
    bool descriptor_ = false;
    bool zip64_ = false;
    uint64_t entryBytes_ = 0;  // bytes after the local header so far
};

// Sets the vendor version of the AES extra field (0x9901) in `extra` to 2;
// false when the field is absent or malformed.
bool MarkAe2(unsigned char* extra, size_t size);

}  // namespace sqx
