// The host's basic suite: hands out every other suite by name and version.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t SPErr;
typedef uint8_t SPBoolean;

enum {
    kSPNoError = 0,
    kSPSuiteNotFoundError = 0x53214e46,  // 'S!NF'
    kSPOutOfMemoryError = -108,
    kSPBadParameterError = 0x50617221,   // 'Par!'
};

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, int32_t version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
    SPErr (*Undefined)(void);
} SPBasicSuite;
