// Export macro of the UI library. The library is built with hidden visibility; only what carries
// ORVUI_EXPORT is reachable from a host or a plug-in.
#pragma once

#if defined(ORV_BUILDING_OrvUIElements64t)
#define ORVUI_EXPORT __attribute__((visibility("default")))
#else
#define ORVUI_EXPORT
#endif
