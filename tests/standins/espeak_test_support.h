// For tests that need espeak-ng: they are skipped only where Linux programs cannot be started at
// all (Windows); under Wine, espeak-ng must run, or the test fails.
#pragma once

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/espeak/unix_spawn.h"

#define REQUIRE_ESPEAK()                                                                            \
    do {                                                                                            \
        if (!engine::UnixSpawnAvailable()) GTEST_SKIP() << "espeak-ng runs only under Wine";        \
        ASSERT_TRUE(engine::EspeakAvailable()) << "under Wine, but espeak-ng cannot be run";         \
    } while (0)
