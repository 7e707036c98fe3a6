// The host's callback and the record it is handed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "sqx/sqx.h"

namespace sqx {

class Callback {
  public:
    Callback(SqxCallback fn, intptr_t user);

    bool present() const { return fn_ != nullptr; }

    // Reason 5: announces a source path, returns what the callback left in
    // the name field (the stored name). Stops the job on answer 0.
    std::string announceAdd(std::string_view sourcePath);
    // Reason 6: announces an output path, returns the (possibly rewritten)
    // path; empty when the callback cleared it. Stops the job on answer 0.
    std::string announceExtract(std::string_view outputPath);
    // Reason 7: a list name the archive does not hold.
    void announceAbsent(std::string_view listName);
    // Reason 0. Stops the job on answer 0.
    void progress(std::string_view name, int percent);
    // Reason 1: true = replace, false = skip. Stops the job on answer 0.
    bool confirmOverwrite(std::string_view path);
    // Reason 2: true = go on (reading: try again); false = the host said stop.
    // Without a callback: true when writing, false when reading.
    bool volume(int32_t kind, std::string_view path, int64_t bytesNeeded, int32_t diskNumber);
    // Reason 3: the password the callback wrote (empty without a callback).
    // Stops the job on answer 0.
    std::string askPassword(std::string_view name);

  private:
    int32_t call(int32_t reason);
    void setName(std::string_view text);
    [[noreturn]] void stopped();

    SqxCallback fn_;
    intptr_t user_;
    std::array<unsigned char, SQX_CB_RECORD_SIZE> record_{};
};

}  // namespace sqx
