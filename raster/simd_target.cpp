#include "raster/simd_target.h"

#include <hwy/targets.h>
#include <strings.h>

#include <cstdlib>
#include <mutex>
#include <string>

static std::once_flag applied;
static std::string note;

void simd_target_init()
{
    std::call_once(applied, [] {
        const char* name = std::getenv("TAVROSK_TARGET");
        if (!name || !*name)
            return;
        for (int64_t target : hwy::SupportedAndGeneratedTargets())
            if (strcasecmp(hwy::TargetName(target), name) == 0) {
                hwy::SetSupportedTargetsForTest(target);
                note = "forced by TAVROSK_TARGET";
                return;
            }
        note = std::string("TAVROSK_TARGET=") + name + " ignored: not an instruction set this processor runs";
    });
}

const char* simd_target_note()
{
    simd_target_init();
    return note.c_str();
}
