// Stand-in for the library's stop and progress calls while they are not yet in vorn.h: the
// programs build against either, and nothing here is used once vorn.h has them.
#pragma once

#include <vorn.h>

#ifndef VN_E_CANCELLED
#define VN_E_CANCELLED 17
#define VN_STAGE_IDLE 0
#define VN_STAGE_WORKING 1
#define VN_STAGE_POWER 2
#define VN_STAGE_CONVERT 3
#define VN_STAGE_SEARCH 4
#define VN_STAGE_PROOF 5
#define VN_STAGE_GENERATE 6
#define VN_STAGE_CIPHER 7
inline int32_t VN_WORKTOKEN(void) { return 1; }
inline int32_t VN_STOPWORK(int32_t *) { return VN_OK; }
inline int32_t VN_WORKPROGRESS(int32_t *, int32_t *stage, int32_t *permille) {
    *stage = VN_STAGE_WORKING;
    *permille = -1;
    return VN_OK;
}
#endif
