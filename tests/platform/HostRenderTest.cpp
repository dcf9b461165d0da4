// The host's half of smart rendering, driven by a small probe effect that
// records what the host hands it.
#include <gtest/gtest.h>

#include <cstring>

#include "AE_GeneralPlug.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"

namespace {

struct Probe {
    PF_LRect request{};
    PF_CheckoutResult result{};
    PF_Err checkoutErr = 0;
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld inputSeen{};  // the input as it was before its check-in
    PF_EffectWorld* output = nullptr;
    PF_EffectWorld* texture = nullptr;
    PF_Pixel8 inputCorner{};
    PF_PixelFloat inputCornerF{};
    bool mixed = false;
} g_probe;

PF_Err ProbeMain(PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void* extra) {
    if (cmd == PF_Cmd_SMART_PRE_RENDER) {
        auto* pre = static_cast<PF_PreRenderExtra*>(extra);
        PF_RenderRequest req = pre->input->output_request;
        req.rect = g_probe.request;
        g_probe.checkoutErr = pre->cb->checkout_layer(in->effect_ref, 0, 7, &req, in->current_time,
                                                      in->time_step, in->time_scale, &g_probe.result);
        PF_CheckoutResult texture{};
        pre->cb->checkout_layer(in->effect_ref, 3, 67, &req, in->current_time, in->time_step, in->time_scale,
                                &texture);
        if (pre->cb->GuidMixInPtr) {
            char bytes[4] = {1, 2, 3, 4};
            g_probe.mixed = pre->cb->GuidMixInPtr(in->effect_ref, sizeof bytes, bytes) == PF_Err_NONE;
        }
        pre->output->result_rect = g_probe.result.result_rect;
        pre->output->max_result_rect = g_probe.result.max_result_rect;
        return g_probe.checkoutErr;
    }
    if (cmd == PF_Cmd_SMART_RENDER) {
        auto* sr = static_cast<PF_SmartRenderExtra*>(extra);
        PF_Err err = sr->cb->checkout_layer_pixels(in->effect_ref, 7, &g_probe.input);
        if (!err) err = sr->cb->checkout_layer_pixels(in->effect_ref, 67, &g_probe.texture);
        if (!err) err = sr->cb->checkout_output(in->effect_ref, &g_probe.output);
        if (!err && g_probe.input) {
            g_probe.inputSeen = *g_probe.input;
            if (sr->input->bitdepth == 32)
                g_probe.inputCornerF = *reinterpret_cast<PF_PixelFloat*>(g_probe.input->data);
            else
                g_probe.inputCorner = *reinterpret_cast<PF_Pixel8*>(g_probe.input->data);
        }
        return err ? err : sr->cb->checkin_layer_pixels(in->effect_ref, 7);
    }
    return PF_Err_NONE;
}

class HostRender : public ::testing::Test {
protected:
    void SetUp() override {
        g_probe = Probe{};
        host::WorldTable::Instance().Reset();
        h.SetEffectMain(&ProbeMain);
        PF_ParamDef slider{}, layer{};
        slider.param_type = PF_Param_FLOAT_SLIDER;
        layer.param_type = PF_Param_LAYER;
        h.In().inter.add_param(h.In().effect_ref, -1, &slider);
        h.In().inter.add_param(h.In().effect_ref, -1, &slider);
        h.In().inter.add_param(h.In().effect_ref, -1, &layer);  // index 3: a layer parameter
        PF_EffectWorld& pixels = h.SetLayerSize(h.EffectLayer(), 10, 6);
        auto* p = reinterpret_cast<PF_PixelFloat*>(reinterpret_cast<char*>(pixels.data) + 2 * pixels.rowbytes);
        p[3] = {1.0f, 0.5f, 0.25f, 1.0f};  // pixel (3, 2)
    }
    host::Host h;
};

TEST_F(HostRender, CheckoutClipsTheRequestToTheLayer) {
    g_probe.request = {3, 2, 40, 40};
    {
        host::RenderJob job;
        job.request.rect = {0, 0, 10, 6};
        ASSERT_EQ(h.SmartPreRender(job), PF_Err_NONE);
        EXPECT_EQ(g_probe.result.result_rect.left, 3);
        EXPECT_EQ(g_probe.result.result_rect.top, 2);
        EXPECT_EQ(g_probe.result.result_rect.right, 10);
        EXPECT_EQ(g_probe.result.result_rect.bottom, 6);
        EXPECT_EQ(g_probe.result.max_result_rect.right, 10);
        EXPECT_EQ(g_probe.result.max_result_rect.bottom, 6);
        ASSERT_EQ(job.checkouts.size(), 2u);
        EXPECT_EQ(job.checkouts[0].id, 7);
        EXPECT_EQ(job.checkouts[1].result.result_rect.right, 0) << "no texture layer chosen: nothing";
        EXPECT_TRUE(g_probe.mixed);
        EXPECT_EQ(h.GuidMixes().back(), (std::vector<unsigned char>{1, 2, 3, 4}));

        ASSERT_EQ(h.SmartRender(job), PF_Err_NONE);
        ASSERT_NE(g_probe.input, nullptr);
        EXPECT_EQ(g_probe.inputSeen.width, 7);
        EXPECT_EQ(g_probe.inputSeen.height, 4);
        EXPECT_EQ(g_probe.inputSeen.origin_x, 3);
        EXPECT_EQ(g_probe.inputSeen.origin_y, 2);
        EXPECT_EQ(g_probe.inputCorner.alpha, 255);
        EXPECT_EQ(g_probe.inputCorner.red, 128);  // 0.5 rounds to the nearest level
        EXPECT_EQ(g_probe.inputCorner.green, 64);
        EXPECT_EQ(g_probe.texture, nullptr);
        ASSERT_NE(g_probe.output, nullptr);
        EXPECT_EQ(g_probe.output->width, 7);
        EXPECT_EQ(job.pixelCheckins, 1);
        EXPECT_EQ(host::WorldTable::Instance().Alive(), 2u) << "layer pixels and the kept output";
    }
    EXPECT_EQ(host::WorldTable::Instance().Alive(), 1u) << "the job gave back what it held";
}

TEST_F(HostRender, FloatRendersAndTheTextureLayer) {
    h.SetLayerSize(h.TextureLayer(), 4, 4);
    h.SetTextureLayerPresent(true);
    g_probe.request = {3, 2, 5, 5};
    host::RenderJob job;
    job.bitdepth = 32;
    ASSERT_EQ(h.SmartPreRender(job), PF_Err_NONE);
    EXPECT_EQ(job.checkouts[1].result.result_rect.right, 4);
    ASSERT_EQ(h.SmartRender(job), PF_Err_NONE);
    EXPECT_FLOAT_EQ(g_probe.inputCornerF.red, 0.5f);
    ASSERT_NE(g_probe.texture, nullptr);
    PF_PixelFormat f = 0;
    host::WorldTable::Instance().Format(g_probe.texture, &f);
    EXPECT_EQ(f, PF_PixelFormat_ARGB128);
    EXPECT_EQ(job.pixelCheckouts, 2);
    EXPECT_EQ(job.pixelCheckins, 1) << "the probe checks in only the input; the job frees the rest";
}

TEST_F(HostRender, InjectedFailuresAndMissingMixing) {
    h.FailLayerCheckout(0, PF_Err_OUT_OF_MEMORY);
    h.SetGuidMixInAvailable(false);
    host::RenderJob job;
    EXPECT_EQ(h.SmartPreRender(job), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(g_probe.mixed);
    EXPECT_TRUE(h.GuidMixes().empty());
}

TEST_F(HostRender, LayerTimeAndTransform) {
    auto& in = h.In();
    const void *pfi = nullptr, *layers = nullptr;
    ASSERT_EQ(in.pica_basicP->AcquireSuite(kAEGPPFInterfaceSuite, 1, &pfi), 0);
    ASSERT_EQ(in.pica_basicP->AcquireSuite(kAEGPLayerSuite, 13, &layers), 0);
    auto* ls = static_cast<const AEGP_LayerSuite13*>(layers);
    h.EffectLayer().inPoint = {2, 1};  // starts two seconds into the comp
    h.EffectLayer().toWorld.mat[3][0] = 25;
    AEGP_LayerH layer = nullptr;
    ASSERT_EQ(static_cast<const AEGP_PFInterfaceSuite1*>(pfi)->AEGP_GetEffectLayer(in.effect_ref, &layer), 0);
    A_Time layerTime{15, 30}, compTime{};
    ASSERT_EQ(ls->AEGP_ConvertLayerToCompTime(layer, &layerTime, &compTime), 0);
    EXPECT_EQ(compTime.value, 75);
    EXPECT_EQ(compTime.scale, 30u);
    A_Matrix4 m{};
    ASSERT_EQ(ls->AEGP_GetLayerToWorldXform(layer, &compTime, &m), 0);
    EXPECT_EQ(m.mat[3][0], 25);
    EXPECT_EQ(m.mat[0][0], 1);
    EXPECT_EQ(h.EffectLayer().lastTransformTime.value, 75);
    A_FloatRect bounds{};
    ASSERT_EQ(ls->AEGP_GetLayerMaskedBounds(layer, AEGP_LTimeMode_LayerTime, &layerTime, &bounds), 0);
    EXPECT_EQ(bounds.right, 10);
    EXPECT_EQ(h.EffectLayer().maskedBoundsQueries, 1);
    in.pica_basicP->ReleaseSuite(kAEGPPFInterfaceSuite, 1);
    in.pica_basicP->ReleaseSuite(kAEGPLayerSuite, 13);
}

}  // namespace
