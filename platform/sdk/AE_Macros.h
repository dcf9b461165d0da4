// Export marker for the effect's entry points.
#pragma once

#define DllExport __attribute__((visibility("default")))
