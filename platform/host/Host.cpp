#include "host/Host.h"

#include <dlfcn.h>

#include <cstring>

#include "AE_GeneralPlug.h"
#include "host/AnsiSuite.h"
#include "host/AppSuite.h"
#include "host/CompWindow.h"
#include "host/Composition.h"
#include "host/DrawbotHost.h"
#include "host/EffectControls.h"
#include "host/HandleSuite.h"
#include "host/OpenCommand.h"
#include "host/PixelOps.h"
#include "host/Streams.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"

namespace host {

namespace {

typedef PF_Err (*PluginDataEntryFn)(PF_PluginDataPtr, PF_PluginDataCB2, SPBasicSuite*, const char*, const char*);

std::string Text(const A_u_char* s) { return s ? reinterpret_cast<const char*>(s) : std::string(); }

PF_Err RegisterCB(PF_PluginDataPtr inPtr, const A_u_char* name, const A_u_char* matchName,
                  const A_u_char* category, const A_u_char* entryPoint, A_long kind, A_long apiMajor,
                  A_long apiMinor, A_long reservedInfo, const A_u_char* supportURL) {
    auto* reg = static_cast<Registration*>(inPtr);
    if (!reg) return PF_Err_BAD_CALLBACK_PARAM;
    reg->calls++;
    reg->name = Text(name);
    reg->match_name = Text(matchName);
    reg->category = Text(category);
    reg->entry_point = Text(entryPoint);
    reg->kind = kind;
    reg->api_major = apiMajor;
    reg->api_minor = apiMinor;
    reg->reserved_info = reservedInfo;
    reg->support_url = Text(supportURL);
    return PF_Err_NONE;
}

}  // namespace

Host::Host(HostOptions options) : m_options(options) {
    m_in.appl_id = options.appl_id;
    m_in.version.major = options.api_major;
    m_in.version.minor = options.api_minor;
    m_in.pica_basicP = SuiteRegistry::Instance().Basic();
    m_in.utils = &m_utils;
    m_in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    m_in.quality = PF_Quality_HI;
    m_in.time_scale = 30;
    m_in.time_step = 1;
    m_in.local_time_step = 1;
    m_in.total_time = 300;
    m_in.downsample_x = {1, 1};
    m_in.downsample_y = {1, 1};
    m_in.pixel_aspect_ratio = {1, 1};

    const PF_HandleSuite1* handles = HandleTable::Instance().Suite();
    m_utils.host_new_handle = handles->host_new_handle;
    m_utils.host_lock_handle = handles->host_lock_handle;
    m_utils.host_unlock_handle = handles->host_unlock_handle;
    m_utils.host_dispose_handle = handles->host_dispose_handle;
    m_utils.host_get_handle_size = handles->host_get_handle_size;
    m_utils.host_resize_handle = handles->host_resize_handle;
    FillAnsiCallbacks(&m_utils.ansi);
    FillPixelCallbacks(&m_utils);

    m_in.inter.add_param = &AddParamCB;
    m_in.inter.register_ui = &RegisterUiCB;
    m_in.inter.checkout_param = &CheckoutParamCB;
    m_in.inter.checkin_param = &CheckinParamCB;

    // The effect's layer sits in a composition of its own.
    m_comp.effectLayer.comp = &m_comp;
    m_comp.effectLayer.id = 1;
    m_comp.textureLayer.comp = &m_comp;
    m_comp.textureLayer.id = 2;
    ProvideOpenCommand();

    // Index 0: the input layer, which the host declares itself.
    PF_ParamDef input{};
    input.param_type = PF_Param_LAYER;
    m_defs.push_back(input);
    m_slots.push_back(ParamSlot{input, {}});

    RegisterSuites();
}

Host::~Host() {
    ReleaseParams();
    for (Layer* layer : {&m_comp.effectLayer, &m_comp.textureLayer})
        if (layer->pixels.data) WorldTable::Instance().Dispose(&layer->pixels);
    if (m_module) dlclose(m_module);
}

void Host::RegisterSuites() {
    auto& r = SuiteRegistry::Instance();
    r.Register(kPFHandleSuite, kPFHandleSuiteVersion1, HandleTable::Instance().Suite());
    r.Register(kPFANSISuite, kPFANSISuiteVersion1, AnsiSuite());
    r.Register(kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1, DrawbotDrawSuite());
    r.Register(kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_Version1, DrawbotSupplierSuite());
    r.Register(kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version1, DrawbotSurfaceSuite1());
    r.Register(kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version2, DrawbotSurfaceSuite2());
    r.Register(kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_Version1, DrawbotPathSuite());

    r.Register(kPFWorldSuite, kPFWorldSuiteVersion2, WorldTable::Instance().Suite());
    r.Register(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, WorldTransformSuite());
    r.Register(kPFIterate8Suite, kPFIterate8SuiteVersion1, Iterate8Suite());
    r.Register(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, IterateFloatSuite());
    r.Register(kPFColorParamSuite, kPFColorParamSuiteVersion1, ColorParamSuite());
    r.Register(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3, ColorSettingsSuite());
    r.Register(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, WithEffectRefs(PFInterfaceSuite(&LayerOf)));
    r.Register(kAEGPLayerSuite, kAEGPLayerSuiteVersion11, WithLayerIds(LayerSuite()));
    r.Register(kAEGPLayerSuite, kAEGPLayerSuiteVersion13, WithLayerIds(LayerSuite()));
    r.Register(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3, ParamUtilsSuite());
    r.Register(kAEGPEffectSuite, kAEGPEffectSuiteVersion2, EffectSuite());
    r.Register(kAEGPEffectSuite, kAEGPEffectSuiteVersion3, EffectSuite());
    r.Register(kAEGPStreamSuite, kAEGPStreamSuiteVersion7, StreamSuite(kAEGPStreamSuiteVersion7));
    r.Register(kAEGPStreamSuite, kAEGPStreamSuiteVersion9, StreamSuite(kAEGPStreamSuiteVersion9));
    r.Register(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2, DynamicStreamSuite());
    r.Register(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, UtilitySuite());
    r.Register(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion11, UtilitySuite());

    r.Register(kPFAppSuite, kPFAppSuiteVersion6, AppSuite());
    r.Register(kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion1, CustomUISuite1());
    r.Register(kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion2, CustomUISuite2());
    r.Register(kPFEffectCustomUIOverlayThemeSuite, kPFEffectCustomUIOverlayThemeSuiteVersion1, OverlayThemeSuite());
    r.Register(kAEGPIterateSuite, kAEGPIterateSuiteVersion1, AegpIterateSuite());
}

bool Host::Load(const std::string& path) {
    m_module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_module) {
        const char* why = dlerror();
        m_error = std::string("cannot load ") + path + ": " + (why ? why : "unknown reason");
        return false;
    }
    auto entry = reinterpret_cast<PluginDataEntryFn>(dlsym(m_module, "PluginDataEntryFunction2"));
    if (!entry) {
        m_error = "the module has no PluginDataEntryFunction2";
        return false;
    }
    m_registrationResult = entry(&m_registration, &RegisterCB, SuiteRegistry::Instance().Basic(), "Umbrafex Host",
                                 "1.0");
    m_main = reinterpret_cast<EffectMainFn>(dlsym(m_module, m_registration.entry_point.c_str()));
    if (!m_main) {
        m_error = "the module has no entry point named \"" + m_registration.entry_point + "\"";
        return false;
    }
    return true;
}

PF_Err Host::Send(PF_Cmd cmd, void* extra, const std::function<void(PF_InData&, PF_OutData&)>& prepare) {
    if (!m_main) return PF_Err_INVALID_CALLBACK;
    // Each command starts from a clean output record carrying the current
    // global and sequence data, as the application hands it over.
    m_out = PF_OutData{};
    m_out.global_data = m_in.global_data;
    m_out.sequence_data = m_in.sequence_data;
    if (prepare) prepare(m_in, m_out);

    PF_Handle oldSequence = m_in.sequence_data;
    PF_Err err = Call(cmd, &m_in, &m_out, extra);

    switch (cmd) {
        case PF_Cmd_GLOBAL_SETUP:
            m_in.global_data = m_out.global_data;
            m_declaredOutFlags = m_out.out_flags;
            break;
        case PF_Cmd_GLOBAL_SETDOWN:
            m_in.global_data = nullptr;
            break;
        case PF_Cmd_SEQUENCE_SETUP:
        case PF_Cmd_SEQUENCE_RESETUP:
            // Data the effect replaced (an unflattened copy the host made) is the host's to free.
            if (cmd == PF_Cmd_SEQUENCE_RESETUP && oldSequence && m_out.sequence_data != oldSequence &&
                HandleTable::Instance().IsAlive(oldSequence))
                HandleTable::Instance().Dispose(oldSequence);
            m_in.sequence_data = m_out.sequence_data;
            break;
        case PF_Cmd_SEQUENCE_FLATTEN:
            m_in.sequence_data = m_out.sequence_data;
            break;
        case PF_Cmd_SEQUENCE_SETDOWN:
            m_in.sequence_data = nullptr;
            break;
        default:
            break;
    }
    return err;
}

}  // namespace host
