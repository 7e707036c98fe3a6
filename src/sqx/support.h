// Shared plumbing of the archive library: failures and the last-error text,
// record field access, the UTF-8 locale the library runs under.
#pragma once

#include <locale.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "sqx/sqx.h"

namespace sqx {

// A job stops by throwing a Failure; the entry point turns it into the
// result code and the last-error text.
struct Failure {
    int32_t code;
    std::string message;
};

[[noreturn]] void fail(int32_t code, std::string message);
// Code for an errno value: disk full, write-protected, access denied and
// name-too-long have their own codes, anything else gets `fallback`.
int32_t codeForErrno(int err, int32_t fallback);
// Throws "cannot <action> <path>: <strerror>" with the code for `err`.
[[noreturn]] void failErrno(int err, int32_t fallback, std::string_view action,
                            std::string_view path);

// A temporary file made beside `final`: "<prefix><pid>-<random><suffix>" in the
// folder of `prefixPath` (prefixPath = folder + "/" + the name's start), created
// exclusively and without following a link, with `mode`. Returns the open
// descriptor and fills `path`; -1 with errno on failure.
int createTemporary(const std::string& prefixPath, const std::string& suffix, mode_t mode,
                    std::string& path);
// Removes the files of `folder` named "<namePrefix><pid>-...<suffix>" whose process
// is gone (left by a run that died); once per folder and name prefix per process.
void removeStaleTemporaries(const std::string& folder, const std::string& namePrefix,
                            const std::string& suffix);

void setLastError(std::string text);
void clearLastError();
std::string lastError();

// Little-endian fields of the caller's records; offsets need no alignment.
int32_t getI32(const void* record, size_t offset);
void putI32(void* record, size_t offset, int32_t value);
void putI64(void* record, size_t offset, int64_t value);
void* getPtr(const void* record, size_t offset);
void putPtr(void* record, size_t offset, const void* value);
// Text up to the first zero byte or the end of the field.
std::string getText(const void* record, size_t offset, size_t fieldLen);
// Zero-fills the field and copies `text`; false (field left empty) when the
// text and its terminating zero do not fit.
bool putText(void* record, size_t offset, size_t fieldLen, std::string_view text);
// Clamps a 64-bit count into an int32 field.
int32_t clampI32(int64_t value);

// Switches the calling thread to a UTF-8 locale for the lifetime of the
// object: libarchive converts names through the current locale, and the
// host program may still run in the "C" locale. The host's locale is put
// back while the host's callback runs (see Suspend).
class LocaleScope {
  public:
    LocaleScope();
    ~LocaleScope();
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

    class Suspend {
      public:
        Suspend();
        ~Suspend();
        Suspend(const Suspend&) = delete;
        Suspend& operator=(const Suspend&) = delete;

      private:
        locale_t ours_;
    };

  private:
    locale_t previous_;
};

// Runs an entry point's body and turns what it throws into a result code
// plus the last-error text. Jobs (adding, listing, extracting) start with a
// clean last error; the small list helpers leave it alone, so that the text
// of a failed job survives the clean-up calls that follow it.
enum class Clears { LastError, Nothing };
template <typename Body>
int32_t runJob(Body&& body, Clears clears = Clears::LastError) {
    if (clears == Clears::LastError) clearLastError();
    try {
        LocaleScope locale;
        return body();
    } catch (const Failure& f) {
        setLastError(f.message);
        return f.code;
    } catch (const std::bad_alloc&) {
        setLastError("out of memory");
        return SQX_ERR_NO_MEMORY;
    } catch (const std::exception& e) {
        setLastError(std::string("internal error: ") + e.what());
        return SQX_ERR_INTERNAL;
    } catch (...) {
        setLastError("internal error");
        return SQX_ERR_INTERNAL;
    }
}

}  // namespace sqx
