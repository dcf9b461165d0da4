// The DRAWBOT suites. Objects (paths, pens, brushes, fonts, images) are
// reference counted and kept in books so tests can see every one released.
#pragma once

#include <cstddef>

#include "DrawbotSuite.h"

namespace host {

const DRAWBOT_DrawbotSuite1* DrawbotDrawSuite();
const DRAWBOT_SupplierSuite1* DrawbotSupplierSuite();
const DRAWBOT_SurfaceSuite1* DrawbotSurfaceSuite1();
const DRAWBOT_SurfaceSuite2* DrawbotSurfaceSuite2();
const DRAWBOT_PathSuite1* DrawbotPathSuite();

size_t DrawbotObjectsAlive();
long DrawbotMisuses();
void DrawbotReset();

}  // namespace host
