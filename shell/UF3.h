// Entry points, command table, global and sequence data, and the effect's
// exception type with its mapping to host error codes.
#pragma once

#include <mutex>
#include <string>

#include "AE_Effect.h"
#include "AE_Macros.h"
#include "OpenGL/OpenGL.h"

#define UF3_EFFECT_NAME "Umbrafex 3"
#define UF3_MATCH_NAME "UMBX3"
#define UF3_CATEGORY "Nimbral"
#define UF3_ENTRY_POINT "EffectMain"
#define UF3_SUPPORT_URL "https://nimbral.example/support"
#define UF3_DESCRIPTION "Cast shadows & light in a variety of styles."
#define UF3_CREDIT "Made by Nimbral. Help and contact: https://nimbral.example/support\n"
#define UF3_HOST_APPL_PREMIERE PF_APPL_ID('P', 'r', 'M', 'r')

constexpr A_long UF3_KIND = PF_APPL_ID('e', 'F', 'K', 'T');
constexpr A_long UF3_API_MAJOR = 13;
constexpr A_long UF3_API_MINOR = 28;
constexpr A_long UF3_RESERVED_INFO = 8;
constexpr A_short UF3_GRADIENT_ARB_ID = 67;  // the arbitrary-data id of the Color Gradient parameter

// The effect's exception. Code below the command boundary throws it with
// kind 0; the render's catch groups record where a caught value came from.
struct UF_Err {
    enum Kind : int32_t { kThrown = 0, kCaughtUF = 1, kCaughtText = 2, kCaughtInteger = 3 };

    UF_Err() = default;
    UF_Err(PF_Err c, std::string m, int32_t k = kThrown) : code(c), message(std::move(m)), kind(k) {}

    int32_t code = PF_Err_NONE;
    std::string message;
    int32_t kind = kThrown;
};

PF_Err ErrorDelegate(UF_Err err);

constexpr size_t UF3_GL_STRING_SIZE = 100;

struct GlobalData {
    char glVersion[UF3_GL_STRING_SIZE];
    char glVendor[UF3_GL_STRING_SIZE];
    char glRenderer[UF3_GL_STRING_SIZE];
    char glShadingLanguageVersion[UF3_GL_STRING_SIZE];
    CGLContextObj context;
    PF_LRect resultRect;
    PF_LRect outputRect;
    PF_LRect requestRect;
    PF_LRect maxResultRect;
    PF_LayerDef outputWorld;
    PF_LayerDef textureWorld;
    PF_LayerDef inputWorld;
};

struct SequenceData {
    int32_t lastMouseH;
    int32_t lastMouseV;
};

// Copies a driver string into a description field, cut to 99 characters;
// null gives the empty text.
void CopyDescriptionString(char (&field)[UF3_GL_STRING_SIZE], const char* text);

std::string AboutText();

// The command boundary: runs one command body and turns anything it throws
// into the command's error code. No exception ever reaches the host.
template <typename Body>
PF_Err CommandBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (A_long thrown) {
        return thrown;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err SequenceResetup(PF_InData* in_data, PF_OutData* out_data);

extern std::mutex param_checkout_mutex;
extern std::recursive_mutex global_mutex;

extern "C" {
DllExport PF_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                                          SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                          const char* inHostVersion);

DllExport PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                            PF_LayerDef* output, void* extra);
}
