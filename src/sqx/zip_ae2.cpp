#include "sqx/zip_ae2.h"

#include <cstring>

#include "sqx/support.h"

namespace sqx {

namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr uint16_t kMethodAes = 99;
constexpr uint16_t kAesExtra = 0x9901;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;

uint16_t u16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t u32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t u64(const unsigned char* p) {
    return static_cast<uint64_t>(u32(p)) | (static_cast<uint64_t>(u32(p + 4)) << 32);
}

[[noreturn]] void malformed(const std::string& what) {
    fail(SQX_ERR_INTERNAL, "cannot write the protected archive: " + what);
}

bool hasExtra(const unsigned char* extra, size_t size, uint16_t id) {
    size_t i = 0;
    while (i + 4 <= size) {
        const uint16_t len = u16(extra + i + 2);
        if (u16(extra + i) == id) return true;
        i += 4 + len;
    }
    return false;
}

}  // namespace

bool MarkAe2(unsigned char* extra, size_t size) {
    size_t i = 0;
    while (i + 4 <= size) {
        const uint16_t id = u16(extra + i);
        const uint16_t len = u16(extra + i + 2);
        if (i + 4 + len > size) return false;
        // Vendor version (2), vendor "AE" (2), strength (1), method (2).
        if (id == kAesExtra) {
            if (len < 7) return false;
            extra[i + 4] = 2;
            extra[i + 5] = 0;
            return true;
        }
        i += 4 + len;
    }
    return false;
}

void Ae2Rewriter::begin(Part next) {
    switch (part_) {
        case Part::LocalHeader:
            endLocalHeader();
            break;
        case Part::EntryEnd:
            endEntry();
            break;
        case Part::Central:
            endCentral();
            break;
        case Part::None:
        case Part::Data:
            break;
    }
    if (!held_.empty()) sink_(held_.data(), held_.size());
    held_.clear();
    part_ = next;
}

void Ae2Rewriter::write(const void* data, size_t size) {
    if (part_ == Part::Data || part_ == Part::None) {
        entryBytes_ += size;
        sink_(data, size);
        return;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    held_.insert(held_.end(), p, p + size);
}

void Ae2Rewriter::endLocalHeader() {
    unsigned char* h = held_.data();
    if (held_.size() < 30 || u32(h) != kLocalSig) malformed("no local header");
    const uint16_t flags = u16(h + 6);
    const uint16_t method = u16(h + 8);
    const size_t nameLen = u16(h + 26);
    const size_t extraLen = u16(h + 28);
    if (held_.size() < 30 + nameLen + extraLen) malformed("a local header was cut");
    name_.assign(reinterpret_cast<const char*>(h + 30), nameLen);
    encrypted_ = (flags & kFlagEncrypted) != 0;
    descriptor_ = (flags & kFlagDescriptor) != 0;
    if (encrypted_) {
        if (method != kMethodAes || !MarkAe2(h + 30 + nameLen, extraLen))
            malformed(name_ + " is not encrypted with AES");
        std::memset(h + 14, 0, 4);
    }
    entryBytes_ = held_.size() - (30 + nameLen + extraLen);
    // A ZIP64 entry ends with the long form of the data descriptor.
    zip64_ = hasExtra(h + 30 + nameLen, extraLen, kZip64Extra);
}

void Ae2Rewriter::endEntry() {
    if (!encrypted_ || !descriptor_) return;
    const size_t size = zip64_ ? 24 : 16;
    if (held_.size() < size) malformed("the end of " + name_ + " was cut");
    const size_t at = held_.size() - size;
    unsigned char* d = held_.data() + at;
    const uint64_t compressed = zip64_ ? u64(d + 8) : u32(d + 8);
    if (u32(d) != kDescriptorSig || compressed != entryBytes_ + at)
        malformed("no data descriptor after " + name_);
    std::memset(d + 4, 0, 4);
}

void Ae2Rewriter::endCentral() {
    size_t i = 0;
    while (i + 46 <= held_.size() && u32(held_.data() + i) == kCentralSig) {
        unsigned char* c = held_.data() + i;
        const size_t nameLen = u16(c + 28);
        const size_t extraLen = u16(c + 30);
        const size_t commentLen = u16(c + 32);
        if (i + 46 + nameLen + extraLen + commentLen > held_.size())
            malformed("a central header was cut");
        if ((u16(c + 8) & kFlagEncrypted) != 0) {
            if (u16(c + 10) != kMethodAes || !MarkAe2(c + 46 + nameLen, extraLen))
                malformed("an entry is not encrypted with AES");
            std::memset(c + 16, 0, 4);
        }
        i += 46 + nameLen + extraLen + commentLen;
    }
}

}  // namespace sqx
