#include "sqx/callback.h"

#include <cstring>

#include "sqx/support.h"

namespace sqx {

Callback::Callback(SqxCallback fn, intptr_t user) : fn_(fn), user_(user) {
    putI32(record_.data(), SQX_CB_OFS_SIZE, SQX_CB_RECORD_SIZE);
}

int32_t Callback::call(int32_t reason) {
    putI32(record_.data(), SQX_CB_OFS_REASON, reason);
    if (reason != SQX_REASON_PROGRESS && reason != SQX_REASON_VOLUME)
        putI32(record_.data(), SQX_CB_OFS_VALUE, 0);
    LocaleScope::Suspend hostLocale;
    return fn_(user_, record_.data());
}

void Callback::setName(std::string_view text) {
    if (!putText(record_.data(), SQX_CB_OFS_NAME, SQX_CB_NAME_LEN, text))
        fail(SQX_ERR_NAME_TOO_LONG, "name longer than " + std::to_string(SQX_CB_NAME_LEN - 1) +
                                        " bytes: " + std::string(text));
}

void Callback::stopped() {
    fail(SQX_ERR_ABORTED, "stopped by the user");
}

std::string Callback::announceAdd(std::string_view sourcePath) {
    setName(sourcePath);
    if (!fn_) return std::string(sourcePath);
    if (call(SQX_REASON_ADD) == SQX_ANSWER_STOP) stopped();
    return getText(record_.data(), SQX_CB_OFS_NAME, SQX_CB_NAME_LEN);
}

std::string Callback::announceExtract(std::string_view outputPath) {
    setName(outputPath);
    if (!fn_) return std::string(outputPath);
    if (call(SQX_REASON_EXTRACT) == SQX_ANSWER_STOP) stopped();
    return getText(record_.data(), SQX_CB_OFS_NAME, SQX_CB_NAME_LEN);
}

void Callback::announceAbsent(std::string_view listName) {
    setName(listName);
    if (!fn_) return;
    if (call(SQX_REASON_ABSENT) == SQX_ANSWER_STOP) stopped();
}

void Callback::progress(std::string_view name, int percent) {
    if (!fn_) return;
    // A name that does not fit is only informational here: leave it empty.
    putText(record_.data(), SQX_CB_OFS_NAME, SQX_CB_NAME_LEN, name);
    putI32(record_.data(), SQX_CB_OFS_VALUE, percent);
    if (call(SQX_REASON_PROGRESS) == SQX_ANSWER_STOP) stopped();
}

bool Callback::confirmOverwrite(std::string_view path) {
    setName(path);
    if (!fn_) return true;
    int32_t answer = call(SQX_REASON_OVERWRITE);
    if (answer == SQX_ANSWER_STOP) stopped();
    return answer == SQX_ANSWER_OVERWRITE;
}

bool Callback::volume(int32_t kind, std::string_view path, int64_t bytesNeeded,
                      int32_t diskNumber) {
    if (!fn_) return kind == SQX_VOLUME_WRITE;
    if (!putText(record_.data(), SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN, path))
        fail(SQX_ERR_NAME_TOO_LONG, "volume path longer than " +
                                        std::to_string(SQX_CB_TEXT_LEN - 1) +
                                        " bytes: " + std::string(path));
    putI32(record_.data(), SQX_CB_OFS_VOLUME_KIND, kind);
    putI32(record_.data(), SQX_CB_OFS_VALUE, clampI32(bytesNeeded));
    putI32(record_.data(), SQX_CB_OFS_DISK, diskNumber);
    int32_t answer = call(SQX_REASON_VOLUME);
    putText(record_.data(), SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN, {});
    putI32(record_.data(), SQX_CB_OFS_VOLUME_KIND, 0);
    putI32(record_.data(), SQX_CB_OFS_DISK, 0);
    return answer != SQX_ANSWER_STOP;
}

std::string Callback::askPassword(std::string_view name) {
    if (!fn_) return {};
    putText(record_.data(), SQX_CB_OFS_NAME, SQX_CB_NAME_LEN, name);
    putText(record_.data(), SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN, {});
    int32_t answer = call(SQX_REASON_PASSWORD);
    std::string password = getText(record_.data(), SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN);
    // The password does not stay in a record that later reasons show.
    putText(record_.data(), SQX_CB_OFS_TEXT, SQX_CB_TEXT_LEN, {});
    if (answer == SQX_ANSWER_STOP) stopped();
    return password;
}

}  // namespace sqx
