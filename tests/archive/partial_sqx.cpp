// A library that has all entry points of the archive library but one.
#include <cstdint>

#define ENTRY(name)                                                    \
    extern "C" __attribute__((visibility("default"))) int32_t name() { \
        return 0;                                                      \
    }

ENTRY(SqxInitFileList)
ENTRY(SqxAddFileList)
ENTRY(SqxDoneFileList)
ENTRY(SqxAddFiles)
ENTRY(SqxExtractFiles)
ENTRY(SqxInitArcFileList)
ENTRY(SqxListFiles)
ENTRY(SqxDoneArcFileList)
ENTRY(SqxAddArchiveComment)
ENTRY(SqxAddFileComments)
ENTRY(SqxTestFiles)
ENTRY(SqxDeleteFiles)
