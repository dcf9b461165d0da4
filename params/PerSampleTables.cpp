#include "params/PerSampleTables.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "params/UF3_ParamIndex.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3_Colour.h"

namespace {

// Opacity of a copy: linear from start to end, pulled towards the eased curve.
double CopyOpacity(const myParams& p, double t, double e) {
    const double lin = (1.0 - t) * p.opacityStart + t * p.opacityEnd;
    const double eased = std::fabs(p.opacityStart + (p.opacityEnd - p.opacityStart) * e);
    return lin - p.easeOpacity * (lin - eased);
}

}  // namespace

double ShadowEaseIn(double t) { return std::pow(2.0, 10.0 * (t - 1.0)); }

void printArbGrabContents(const std::vector<ArbGradientPt>& stops) {
    std::string text = "contents, size: " + std::to_string(stops.size()) + ". ";
    for (const ArbGradientPt& s : stops) text += std::to_string(s.position) + ", ";
    (void)text;
}

PF_Err InitDirectionalParams(myParams& p, AEGP_SuiteHandler& /*suites*/, PF_ParamDef* params) {
    const int32_t N = p.numSamples;
    const int32_t B = std::min<int32_t>(N, 2);
    const double R = p.lightRadius;
    p.numBlurBuffers = B;

    p.shadowLength *= p.downsampleScale;
    p.shadowOffsetPx = p.downsampleScale * params[UF3_SHADOW_OFFSET_DIR].u.fs_d.value;

    const float s = std::sin(static_cast<float>(p.lightDirectionRad));
    const float c = std::cos(static_cast<float>(p.lightDirectionRad));
    p.shadowOffsetVector[0] = p.shadowOffsetPx * s;
    p.shadowOffsetVector[1] = -p.shadowOffsetPx * c;

    if (p.input_worldP) {
        p.inputSize[0] = p.input_worldP->width;
        p.inputSize[1] = p.input_worldP->height;
    }

    const double L = p.shadowLength;
    p.shadowVector[0] = L * s;
    p.shadowVector[1] = -L * c;
    // Without copies there is no step; a division by zero would leave NaN
    // for the passes to pick up.
    p.shadowStep[0] = N > 0 ? p.shadowVector[0] / N : 0.0;
    p.shadowStep[1] = N > 0 ? p.shadowVector[1] / N : 0.0;

    for (int32_t i = 0; i < N; ++i) {
        const double t = static_cast<double>(i + 1) / N;
        perSampleData rec{};
        // First half of the copies in buffer 0, the rest in buffer 1, split exactly in
        // whole numbers. floor(i * (B / N - 0.000001)) would nudge the middle copy of an
        // even count back into buffer 0: 2 copies both in buffer 0, 4 copies as 3 and 1.
        rec.bufferIndex = static_cast<int32_t>((static_cast<int64_t>(i) * B) / N);
        rec.offset[0] = t * p.shadowVector[0];
        rec.offset[1] = t * p.shadowVector[1];
        rec.blur = t * R;
        rec.opacity = p.opacityStart - (p.opacityStart - p.opacityEnd) * t;
        if (p.easingMaster > 0.0) {
            const double e = ShadowEaseIn(t);
            for (int axis = 0; axis < 2; ++axis) {
                const double lin = (i + 1) * p.shadowStep[axis];
                rec.offset[axis] = lin - p.easeDistance * (lin - e * p.shadowVector[axis]);
            }
            const double linBlur = t * R;
            rec.blur = linBlur - p.easeSoftness * (linBlur - e * R);
            rec.opacity = CopyOpacity(p, t, e);
        }
        p.samples.push_back(rec);
    }

    for (int32_t k = 1; k <= B; ++k) {
        blurBufferSpec buf{};
        const double m = std::ceil(R / B * k);
        buf.margin = m + 10.0;
        buf.pad = 2.0 * m + 20.0;
        int32_t grow[2];
        if (!p.innerShadow) {
            grow[0] = grow[1] = static_cast<int32_t>(buf.pad);
        } else {
            double a = std::fmod(p.lightDirection, 360.0);
            if (a < 0.0) a += 360.0;
            const double r = a * UF3_DEG_TO_RAD;
            const double D = p.shadowOffsetPx + p.shadowLength;
            const double sr = std::sin(static_cast<float>(r));
            const double cr = std::cos(static_cast<float>(r));
            // Terms whose quadrant test fails keep the previous buffer's value.
            if (a > 0.0 && a < 180.0) p.innerBounds[0] = sr * D;
            if (a > 180.0 && a < 360.0) p.innerBounds[2] = -D * sr;
            if (a > 270.0 || a < 90.0) p.innerBounds[3] = cr * D;
            if (a > 90.0 && a < 270.0) p.innerBounds[1] = -D * cr;
            for (int j = 0; j < 4; ++j) {
                p.innerBounds[j] += R;
                p.innerBoundsPx[j] = static_cast<int32_t>(std::ceil(p.innerBounds[j]));
            }
            p.innerPad[0] = p.innerBoundsPx[0] + p.innerBoundsPx[2];
            p.innerPad[1] = p.innerBoundsPx[1] + p.innerBoundsPx[3];
            grow[0] = p.innerPad[0];
            grow[1] = p.innerPad[1];
        }
        for (int axis = 0; axis < 2; ++axis) {
            buf.extent[axis] = p.defaultBufferBehaviour ? p.inputSize[axis] : p.inputSize[axis] + grow[axis];
            buf.size[axis] = static_cast<int32_t>(buf.extent[axis] * p.qualityScale);
        }
        p.blurBuffers.push_back(buf);
    }
    return PF_Err_NONE;
}

PF_Err InitRadialGaussianParams(myParams& p, PF_InData* in_data, PF_ParamDef* params) {
    // Unused, but a command without a basic suite must fail the same way
    // here as everywhere else.
    AEGP_SuiteHandler suites(in_data ? in_data->pica_basicP : nullptr);

    const int32_t N = p.numSamples;
    p.numBlurBuffers = 1;
    p.lightRadius *= 0.5;
    const double R = p.lightRadius;

    const double S = std::fabs(params[UF3_SHADOW_LENGTH].u.fs_d.value * 0.125) * 0.01;
    p.shadowLength = 1.0 + S;  // scale of the last copy
    p.pointScaleStep = N > 0 ? S / N : 0.0;
    p.pointBlurStep = N > 0 ? R / N : 0.0;
    p.shadowOffsetPx = params[UF3_SHADOW_OFFSET_POINT].u.fs_d.value * 0.001;

    // The ease factors already carry the easing master, so easing applies
    // whatever the master says.
    for (int32_t i = 1; i <= N; ++i) {
        const double t = static_cast<double>(i) / N;
        const double e = ShadowEaseIn(t);
        perSampleData rec{};
        const double linScale = 1.0 + i * p.pointScaleStep;
        rec.scale = linScale - p.easeDistance * (linScale - (1.0 + S * e));
        const double linBlur = i * p.pointBlurStep;
        const double b = linBlur - p.easeSoftness * (linBlur - R * e);
        rec.blur = std::max(std::ceil(b / rec.scale), 1.0);
        rec.opacity = CopyOpacity(p, t, e);
        p.samples.push_back(rec);
    }
    return PF_Err_NONE;
}
